// A 4 x 4 grid of squares growing from their centres.
void main() {
    vec2 uv = v_tex_coord;
    vec4 a = sampleFrom(uv);
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            vec2 low = vec2(float(i), float(j)) * 0.25;
            if (all(greaterThanEqual(uv, low)) && all(lessThanEqual(uv, low + 0.25))) {
                vec2 d = abs(uv - (low + 0.125));
                float half_size = progress / 8.0;
                frag_color = (d.x < half_size && d.y < half_size) ? sampleTo(uv) : a;
                return;
            }
        }
    }
    frag_color = a;
}
