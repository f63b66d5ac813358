// Grows from the centre and reaches the corners (half a diagonal away) at
// progress 1.
void main() {
    vec2 uv = v_tex_coord;
    frag_color = distance(uv, vec2(0.5)) <= progress * 0.70710678 ? sampleTo(uv) : sampleFrom(uv);
}
