void main() {
    vec2 uv = v_tex_coord;
    const vec4 white = vec4(1.0);
    if (progress < 0.5)
        frag_color = mixPictures(sampleFrom(uv), white, 2.0 * progress);
    else
        frag_color = mixPictures(white, sampleTo(uv), 2.0 * progress - 1.0);
}
