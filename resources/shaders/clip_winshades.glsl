void main() {
    vec2 uv = v_tex_coord;
    vec4 a = sampleFrom(uv);
    vec4 b = sampleTo(uv);
    frag_color = a;
    for (int i = 0; i < 5; ++i) {
        float top = float(i) * 0.2;
        if (uv.y >= top && uv.y <= top + 0.2) {
            frag_color = uv.y - top < progress / 5.0 ? b : a;
            break;
        }
    }
}
