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
void main() {
    vec2 uv = v_tex_coord;
    const vec4 black = vec4(0.0, 0.0, 0.0, 1.0);
    if (progress < 0.5)
        frag_color = sampleFrom(uv) * (1.0 - 2.0 * progress) + black * (2.0 * progress);
    else
        frag_color = black * (2.0 - 2.0 * progress) + sampleTo(uv) * (2.0 * progress - 1.0);
}
