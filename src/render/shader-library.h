// The picture programs: transitions between two pictures, colour
// adjustment and subtitles, compiled from GLSL kept in the Qt resources.
#pragma once

#include "values/frame-info.h"

#include <functional>
#include <string>
#include <vector>

class GsDevice;

// The constant blocks the programs read (std140: plain floats in order).
struct TransitionBlock {
    float progress = 0.0f; // 0 shows the first picture, 1 the second
    float aspect = 1.0f;   // width / height of the picture
    float transparent_from = 1.0f;
    float transparent_to = 1.0f;
};
static_assert(sizeof(TransitionBlock) == 16, "TransitionBlock must match its std140 layout");

// The colour program's constants. Every colour control is an affine map of
// RGB (only the clip at white is not), so a layer's controls fold into one
// matrix and one offset, worked out once a draw rather than once a pixel.
struct ColourBlock {
    float transform[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0}; // mat3: columns padded to four floats
    float offset = 0.0f;                                           // added to each channel after it
    float transparent = 1.0f;                                      // times the picture's alpha
    float padding[2] = {0.0f, 0.0f};
};
static_assert(sizeof(ColourBlock) == 64, "ColourBlock must match its std140 layout");

// A layer's controls (temperature, hue, brightness, contrast, saturation,
// highlight, in the order they apply) and its opacity.
ColourBlock colourBlock(const ColourControls& c, float transparent);

struct AlphaBlock {
    float transparent = 1.0f;
    float padding[3] = {0.0f, 0.0f, 0.0f};
};
static_assert(sizeof(AlphaBlock) == 16, "AlphaBlock must match its std140 layout");

// The program names, in the order they are registered.
const std::vector<std::string>& ShaderNames();

// Gives a shader file's text ("vertex.glsl", "<name>.glsl"); empty when missing.
using ShaderSourceReader = std::function<std::string(const std::string& file)>;
// Reads ":/shaders/<file>".
std::string ReadShaderResource(const std::string& file);

// Registers every program with the device; one that fails is logged and
// skipped. Returns how many registered.
int RegisterShaders(GsDevice* device, const ShaderSourceReader& read = ReadShaderResource);
