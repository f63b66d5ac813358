#version 330 core
// Shared by every transition program: its constant block, the two pictures,
// and sampling with each picture's transparency applied.
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
// Two colours mixed as light mixes: each weighs by its own opacity, so
// where only one picture covers, it fades as that picture fades instead of
// also darkening by the empty one's colour (its alpha is applied once, when
// the result is laid over the scene).
vec4 mixPictures(vec4 a, vec4 b, float t) {
    float alpha = mix(a.a, b.a, t);
    vec3 light = mix(a.rgb * a.a, b.rgb * b.a, t);
    return alpha > 0.0 ? vec4(light / alpha, alpha) : vec4(0.0);
}
