// Ten bands wiping in from alternate sides.
void main() {
    vec2 uv = v_tex_coord;
    vec4 a = sampleFrom(uv);
    vec4 b = sampleTo(uv);
    frag_color = a;
    for (int i = 0; i < 10; ++i) {
        float top = float(i) * 0.1;
        if (uv.y >= top && uv.y <= top + 0.1) {
            bool reached = (i % 2 == 0) ? uv.x < progress : uv.x > 1.0 - progress;
            frag_color = reached ? b : a;
            break;
        }
    }
}
