void main() {
    vec2 uv = v_tex_coord;
    frag_color = sampleTo(uv) * progress + sampleFrom(uv) * (1.0 - progress);
}
