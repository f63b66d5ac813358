#version 330 core
layout(std140) uniform ColourBlock {
    float temperature;
    float hue;
    float brightness;
    float contrast;
    float saturation;
    float highlight;
    float transparent;
    float padding;
};
uniform sampler2D texture_from;
in vec2 v_tex_coord;
out vec4 frag_color;
void main() {
    vec4 sampled = texture(texture_from, v_tex_coord);
    vec3 c = sampled.rgb;

    float t = temperature;
    vec3 cool = vec3(1.0 - abs(t) * 0.5, 1.0, 1.0 + abs(t) * 0.7);
    vec3 warm = vec3(1.0 + t * 0.8, 1.0, 1.0 - t * 0.4);
    c *= mix(cool, warm, clamp(t + 1.0, 0.0, 1.0));

    // A rotation of hue that keeps luminance; the rows weight r, g and b.
    float a = hue * 3.1415926;
    float co = cos(a);
    float si = sin(a);
    mat3 rotate = mat3(
        vec3(0.299 + 0.701 * co - 0.168 * si, 0.587 - 0.587 * co + 0.330 * si, 0.114 - 0.114 * co - 0.497 * si),
        vec3(0.299 - 0.299 * co - 0.328 * si, 0.587 + 0.413 * co + 0.035 * si, 0.114 - 0.114 * co + 0.293 * si),
        vec3(0.299 - 0.300 * co + 1.250 * si, 0.587 - 0.588 * co - 1.050 * si, 0.114 + 0.886 * co - 0.203 * si));
    c = rotate * c;

    c += brightness;
    c = (c - 0.5) * (contrast + 1.0) + 0.5;
    float luma = dot(c, vec3(0.2126, 0.7152, 0.0722));
    c = mix(vec3(luma), c, saturation + 1.0);
    c = min(c + highlight, 1.0);

    frag_color = vec4(c, sampled.a * transparent);
}
