// Key strings of the timeline: object keys, panel keys, project elements and
// merge-sequence names. Kept in one place so the spellings cannot drift.
#pragma once

namespace tlkey {

// Keys of a clip's undoable object.
constexpr const char* Source = "source";
constexpr const char* Parent = "parent";
constexpr const char* PosX = "posX";
constexpr const char* SizeX = "sizeX";
constexpr const char* OffsetX = "offsetX";
constexpr const char* PreviewRect = "previewRect";
constexpr const char* Rotate = "rotate";
constexpr const char* Transparent = "transparent";
constexpr const char* BackgroundTransparent = "backgroundtransparent";
constexpr const char* Volume = "volume";
constexpr const char* Mute = "mute";
constexpr const char* Font = "font";
constexpr const char* Color = "color";
constexpr const char* BackgroundColor = "backgroundcolor";
constexpr const char* Content = "content";
constexpr const char* ClipRect = "clipRect";
constexpr const char* ZValue = "zValue";
constexpr const char* Temperature = "temperature";
constexpr const char* Saturation = "saturation";
constexpr const char* Hue = "hue";
constexpr const char* Contrast = "contrast";
constexpr const char* Bright = "bright";
constexpr const char* Highlight = "highlight";

// Context maps of object records.
constexpr const char* Col = "col";
constexpr const char* Model = "model";
constexpr const char* Row = "row";

// Panel maps and panel edits.
constexpr const char* Uuid = "uuid";
constexpr const char* Path = "path";
constexpr const char* X = "X";
constexpr const char* Y = "Y";
constexpr const char* W = "W";
constexpr const char* H = "H";
constexpr const char* Size = "size";
constexpr const char* Rect = "rect";
constexpr const char* Strech = "strech"; // the panels spell it so
constexpr const char* SizeType = "sizeType";
constexpr const char* Direction = "direction";
constexpr const char* Type = "type";
constexpr const char* Duration = "duration";
constexpr const char* Value = "value";

// Key of a transition's undoable object and its map entries.
constexpr const char* Trans = "trans";
constexpr const char* StartFrame = "startframe";
constexpr const char* EndFrame = "endframe";
constexpr const char* DurationFrame = "durationframe";
constexpr const char* Name = "name";
constexpr const char* Ratio = "ratio";

// Merge sequences.
constexpr const char* SeqAddSource = "AddSource";
constexpr const char* SeqDel = "Del";
constexpr const char* SeqSplit = "splitSource";
constexpr const char* SeqCopy = "copy";
constexpr const char* SeqStretch = "stretch";
constexpr const char* SeqPaste = "paste";
constexpr const char* SeqMove = "move";
constexpr const char* SeqRemove = "removeSource";
constexpr const char* SeqAddTrack = "AddTrack";
constexpr const char* SeqTransition = "addTransition";

// Project elements of the timeline section.
namespace xml {
constexpr const char* Classify = "classify";
constexpr const char* Type = "type";
constexpr const char* Row = "row";
constexpr const char* SourceItem = "sourceItem";
constexpr const char* Trans = "Trans";
constexpr const char* TransItem = "TransItem";
constexpr const char* Start = "start";
constexpr const char* Duration = "duration";
constexpr const char* Offset = "offset";
constexpr const char* Path = "path";
// The media path relative to the project, where the media lie in its folder.
constexpr const char* RelativePath = "relativePath";
constexpr const char* Uuid = "uuid";
constexpr const char* OriginalDuration = "originalduraion"; // spelt so in project files
constexpr const char* PreviewRect = "previewRect";
constexpr const char* ClipRect = "clipRect";
constexpr const char* OriginalSize = "originalSize";
constexpr const char* Rotation = "roration"; // spelt so in project files
constexpr const char* Transparent = "transparent";
constexpr const char* Volume = "volumn"; // spelt so in project files; 0 while muted
constexpr const char* Mute = "mute";
// A muted clip's own volume, given back when it is unmuted. Readers that do
// not know it still find the muted clip silent.
constexpr const char* MutedVolume = "mutedVolume";
constexpr const char* Stretch = "stretch";
constexpr const char* Temperature = "temperature";
constexpr const char* Saturation = "saturation";
constexpr const char* Hue = "hue";
constexpr const char* Bright = "bright";
constexpr const char* Contrast = "contrast";
constexpr const char* Highlight = "highlight";
constexpr const char* Subtitle = "subtitle";
constexpr const char* Color = "color";
constexpr const char* Font = "font";
constexpr const char* Content = "content";
constexpr const char* BackgroundColor = "backgroundcolor";
constexpr const char* BackgroundTransparent = "backgroundtransparent";
// A picture's, video's or subtitle's place in the stacking order, so that a
// reopened project stacks as it was edited. Without it (older files) clips
// stack in the order they are read.
constexpr const char* StackingOrder = "zValue";
constexpr const char* StartFrame = "startframe";
constexpr const char* EndFrame = "endframe";
constexpr const char* DurationFrame = "durationframe";
constexpr const char* Name = "name";
constexpr const char* Ratio = "ratio";
constexpr const char* FromUuid = "fromUUid"; // spelt so in project files
constexpr const char* ToUuid = "toUUid";
constexpr const char* True = "true";
constexpr const char* False = "false";
constexpr const char* RectFormat = "x: %1, y: %2, width: %3, height: %4";
constexpr const char* SizeFormat = "width: %1, height: %4";
} // namespace xml

} // namespace tlkey
