// Measured in picture proportions so the circle stays round on any
// scene shape, and reaches the corners at progress 1.
void main() {
    vec2 uv = v_tex_coord;
    float radius = progress / 2.0 * length(vec2(1.0, 1.0 / aspect));
    vec2 scale = aspect <= 1.0 ? vec2(aspect, 1.0) : vec2(1.0, 1.0 / aspect);
    float d = length((uv - 0.5) * scale);
    frag_color = d <= radius ? sampleTo(uv) : sampleFrom(uv);
}
