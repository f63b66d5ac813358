void main() {
    vec2 uv = v_tex_coord;
    frag_color = distance(uv, vec2(0.5)) <= progress ? sampleTo(uv) : sampleFrom(uv);
}
