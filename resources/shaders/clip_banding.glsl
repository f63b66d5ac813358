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
// Ten bands wiping in from alternate sides.
void main() {
    vec2 uv = v_tex_coord;
    vec4 a = sampleFrom(uv);
    vec4 b = sampleTo(uv);
    frag_color = a;
    for (int i = 0; i < 10; ++i) {
        float top = float(i) * 0.1;
        if (uv.y >= top && uv.y <= top + 0.1) {
            bool reached = (i % 2 == 0) ? uv.x < progress : uv.x > 1.0 - progress;
            frag_color = reached ? b : a;
            break;
        }
    }
}
