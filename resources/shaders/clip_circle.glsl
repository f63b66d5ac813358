#version 330 core
layout(std140) uniform TransitionBlock {
    float progress;
    float aspect;
    float transparent_from;
    float transparent_to;
};
uniform sampler2D texture_from;
uniform sampler2D texture_to;
in vec2 v_tex_coord;
out vec4 frag_color;
vec4 sampleFrom(vec2 uv) {
    vec4 c = texture(texture_from, uv);
    return vec4(c.rgb, c.a * transparent_from);
}
vec4 sampleTo(vec2 uv) {
    vec4 c = texture(texture_to, uv);
    return vec4(c.rgb, c.a * transparent_to);
}
// Measured in picture proportions so the circle stays round on any
// scene shape, and reaches the corners at progress 1.
void main() {
    vec2 uv = v_tex_coord;
    float radius = progress / 2.0 * length(vec2(1.0, 1.0 / aspect));
    vec2 scale = aspect <= 1.0 ? vec2(aspect, 1.0) : vec2(1.0, 1.0 / aspect);
    float d = length((uv - 0.5) * scale);
    frag_color = d <= radius ? sampleTo(uv) : sampleFrom(uv);
}
