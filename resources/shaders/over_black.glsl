void main() {
    vec2 uv = v_tex_coord;
    const vec4 black = vec4(0.0, 0.0, 0.0, 1.0);
    if (progress < 0.5)
        frag_color = mixPictures(sampleFrom(uv), black, 2.0 * progress);
    else
        frag_color = mixPictures(black, sampleTo(uv), 2.0 * progress - 1.0);
}
