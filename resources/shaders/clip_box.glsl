void main() {
    vec2 uv = v_tex_coord;
    vec2 d = abs(uv - 0.5);
    float half_size = progress / 2.0;
    frag_color = (d.x < half_size && d.y < half_size) ? sampleTo(uv) : sampleFrom(uv);
}
