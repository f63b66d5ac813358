void main() {
    vec2 uv = v_tex_coord;
    frag_color = uv.x <= progress ? sampleTo(uv) : sampleFrom(uv);
}
