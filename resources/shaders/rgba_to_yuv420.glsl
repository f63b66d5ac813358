#version 330 core
// The composed picture (top row first) as limited-range 8-bit YUV 4:2:0
// planes, laid out as the encoder takes them: Y (width x height), then U,
// then V (width/2 x height/2 each), rows packed without gaps. Each pixel of
// the target carries four bytes of a plane, so the target is width/4 wide
// and height * 3/2 high; read back as RGBA bytes it is the three planes.
//
//   Y = 16  + 219 * (Kr R + Kg G + Kb B)
//   U = 128 + 224 * (B - Y') / (2 (1 - Kb))
//   V = 128 + 224 * (R - Y') / (2 (1 - Kr))
//
// U and V are taken from the mean of each 2 x 2 block of pixels.
layout(std140) uniform PackBlock {
    vec4 lumaRow; // Kr, Kg, Kb
    vec4 blueRow; // the U row of the matrix, from R, G and B
    vec4 redRow;  // the V row
    vec4 size;    // the picture's width and height in pixels
};
uniform sampler2D texture_from;
out vec4 frag_color;

float luma(ivec2 at) {
    return (16.0 + 219.0 * dot(texelFetch(texture_from, at, 0).rgb, lumaRow.rgb)) / 255.0;
}

float chroma(ivec2 block, vec3 row) {
    ivec2 at = block * 2;
    vec3 c = texelFetch(texture_from, at, 0).rgb + texelFetch(texture_from, at + ivec2(1, 0), 0).rgb +
             texelFetch(texture_from, at + ivec2(0, 1), 0).rgb + texelFetch(texture_from, at + ivec2(1, 1), 0).rgb;
    return (128.0 + 224.0 * dot(c * 0.25, row)) / 255.0;
}

void main() {
    ivec2 p = ivec2(gl_FragCoord.xy);
    int width = int(size.x);
    int height = int(size.y);
    if (p.y < height) {
        int x = p.x * 4;
        frag_color = vec4(luma(ivec2(x, p.y)), luma(ivec2(x + 1, p.y)), luma(ivec2(x + 2, p.y)),
                          luma(ivec2(x + 3, p.y)));
        return;
    }
    // Two chroma rows to a target row: the left half holds the even one.
    int quarter = height / 4;
    int halfRow = width / 8;
    int r = p.y - height;
    bool red = r >= quarter;
    if (red)
        r -= quarter;
    bool odd = p.x >= halfRow;
    ivec2 block = ivec2((odd ? p.x - halfRow : p.x) * 4, r * 2 + (odd ? 1 : 0));
    vec3 row = red ? redRow.rgb : blueRow.rgb;
    frag_color = vec4(chroma(block, row), chroma(block + ivec2(1, 0), row), chroma(block + ivec2(2, 0), row),
                      chroma(block + ivec2(3, 0), row));
}
