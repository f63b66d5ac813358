#version 330 core
layout(std140) uniform AlphaBlock {
    float transparent;
    float padding0;
    float padding1;
    float padding2;
};
uniform sampler2D texture_from;
in vec2 v_tex_coord;
out vec4 frag_color;
void main() {
    vec4 sampled = texture(texture_from, v_tex_coord);
    frag_color = vec4(sampled.rgb, sampled.a * transparent);
}
