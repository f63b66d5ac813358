void main() {
    vec2 uv = v_tex_coord;
    frag_color = mixPictures(sampleFrom(uv), sampleTo(uv), progress);
}
