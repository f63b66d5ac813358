#version 330 core
// The picture through its colour controls, folded into one affine map of RGB.
layout(std140) uniform ColourBlock {
    mat3 transform;
    float offset;
    float transparent;
};
uniform sampler2D texture_from;
in vec2 v_tex_coord;
out vec4 frag_color;
void main() {
    vec4 sampled = texture(texture_from, v_tex_coord);
    frag_color = vec4(min(transform * sampled.rgb + offset, 1.0), sampled.a * transparent);
}
