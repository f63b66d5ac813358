#version 330 core
// A decoded YUV picture, given as its planes, turned into RGB with the
// source's own matrix and range. Luma is read texel for texel; chroma,
// which may be smaller (4:2:0, 4:2:2), is filtered at the luma pixel's
// place with each chroma sample centred on the luma samples it covers, as
// the CPU conversion (swscale) takes it, so that both show one picture.
//
//   Y' = y * scale.x + scale.y          C = c * scale.z + scale.w
//   R = Y' + rgb.x Cr    G = Y' + rgb.y Cb + rgb.z Cr    B = Y' + rgb.w Cb
layout(std140) uniform PlaneBlock {
    vec4 scale; // from sampled values (0..1 of the texel's range) to Y' 0..1 and C -0.5..0.5
    vec4 rgb;   // the matrix's four non-trivial factors
    vec4 part;  // x, y: left and top of the part drawn, in luma pixels
    vec4 chroma; // luma to chroma scale (x, y), 1 / chroma plane size (z, w)
    vec4 shape;   // x: 1 when U and V share one plane (U in red, V in green)
};
uniform sampler2D plane_y;
uniform sampler2D plane_u;
uniform sampler2D plane_v;
out vec4 frag_color;

void main() {
    vec2 at = gl_FragCoord.xy + part.xy; // luma pixel centre, top row first
    float y = texelFetch(plane_y, ivec2(at), 0).r;
    vec2 c = at * chroma.xy * chroma.zw;
    vec2 uv = shape.x > 0.5 ? texture(plane_u, c).rg : vec2(texture(plane_u, c).r, texture(plane_v, c).r);
    float l = y * scale.x + scale.y;
    vec2 d = uv * scale.z + scale.w;
    vec3 colour = vec3(l + rgb.x * d.y, l + rgb.y * d.x + rgb.z * d.y, l + rgb.w * d.x);
    frag_color = vec4(clamp(colour, 0.0, 1.0), 1.0);
}
