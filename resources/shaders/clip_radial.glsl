// A sweep around the bottom-left corner.
const float HALF_PI = 1.5707963;
void main() {
    vec2 uv = v_tex_coord;
    if (abs(progress - 1.0) < 0.0001) {
        frag_color = sampleTo(uv);
        return;
    }
    // On the left edge the quotient has no value; use its limit.
    float angle = uv.x > 1e-6 ? atan((uv.y - 1.0) / uv.x) : (uv.y < 1.0 ? -HALF_PI : 0.0);
    float v = -sin(angle);
    frag_color = v < progress ? sampleTo(uv) : sampleFrom(uv);
}
