// The new picture pushes the old one out to the right.
void main() {
    vec2 uv = v_tex_coord;
    if (uv.x < progress)
        frag_color = sampleTo(vec2(uv.x + 1.0 - progress, uv.y));
    else
        frag_color = sampleFrom(vec2(uv.x - progress, uv.y));
}
