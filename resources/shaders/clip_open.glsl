void main() {
    vec2 uv = v_tex_coord;
    frag_color = abs(uv.x - 0.5) < progress / 2.0 ? sampleTo(uv) : sampleFrom(uv);
}
