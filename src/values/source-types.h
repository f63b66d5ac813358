// The kinds of clips, tracks and materials, and of the property panels that
// edit them: shared by the timeline, the library and the panels.
#pragma once

#include <cstdint>

// Kind bits; a track holds clips of one kind, a material has one.
enum SourceType : uint32_t {
    SourceNone = 0,
    SourcePicture = 1,
    SourceVideo = 2,
    SourceDub = 4,
    SourceSubtitle = 8,
    SourceAudio = 16,
};

// The property panel's pages.
enum MenuType {
    MenuPicture = 0,
    MenuVideo = 1,
    MenuDub = 2,
    MenuSubtitle = 3,
    MenuAudio = 4,
    MenuTransition = 5,
    MenuCrop = 6
};
