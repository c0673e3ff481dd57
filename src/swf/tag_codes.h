#pragma once
// The codes of the SWF tags: the one table every part of the core names them by, with each
// tag's name as the file format gives it (for what a load leaves out) and whether it carries
// anything to show or hear.

#include <cstdint>
#include <string_view>

namespace swf {

// X(name, code, role): Content tags matter to a movie; Hint tags carry nothing to show or hear
// (protection, debugger and authoring hints, metadata, file attributes, script
// limits, tab order), so skipping them loses nothing.
#define SWF_TAG_CODES(X)                       \
  X(End, 0, Content)                           \
  X(ShowFrame, 1, Content)                     \
  X(DefineShape, 2, Content)                   \
  X(FreeCharacter, 3, Content)                 \
  X(PlaceObject, 4, Content)                   \
  X(RemoveObject, 5, Content)                  \
  X(DefineBits, 6, Content)                    \
  X(DefineButton, 7, Content)                  \
  X(JpegTables, 8, Content)                    \
  X(SetBackgroundColor, 9, Content)            \
  X(DefineFont, 10, Content)                   \
  X(DefineText, 11, Content)                   \
  X(DoAction, 12, Content)                     \
  X(DefineFontInfo, 13, Content)               \
  X(DefineSound, 14, Content)                  \
  X(StartSound, 15, Content)                   \
  X(StopSound, 16, Content)                    \
  X(DefineButtonSound, 17, Content)            \
  X(SoundStreamHead, 18, Content)              \
  X(SoundStreamBlock, 19, Content)             \
  X(DefineBitsLossless, 20, Content)           \
  X(DefineBitsJpeg2, 21, Content)              \
  X(DefineShape2, 22, Content)                 \
  X(DefineButtonCxform, 23, Content)           \
  X(Protect, 24, Hint)                         \
  X(PathsArePostScript, 25, Hint)              \
  X(PlaceObject2, 26, Content)                 \
  X(RemoveObject2, 28, Content)                \
  X(SyncFrame, 29, Hint)                       \
  X(FreeAll, 31, Hint)                         \
  X(DefineShape3, 32, Content)                 \
  X(DefineText2, 33, Content)                  \
  X(DefineButton2, 34, Content)                \
  X(DefineBitsJpeg3, 35, Content)              \
  X(DefineBitsLossless2, 36, Content)          \
  X(DefineEditText, 37, Content)               \
  X(DefineVideo, 38, Content)                  \
  X(DefineSprite, 39, Content)                 \
  X(NameCharacter, 40, Hint)                   \
  X(ProductInfo, 41, Hint)                     \
  X(DefineTextFormat, 42, Content)             \
  X(FrameLabel, 43, Content)                   \
  X(DefineBehavior, 44, Content)               \
  X(SoundStreamHead2, 45, Content)             \
  X(DefineMorphShape, 46, Content)             \
  X(GenerateFrame, 47, Content)                \
  X(DefineFont2, 48, Content)                  \
  X(ExportAssets, 56, Content)                 \
  X(ImportAssets, 57, Content)                 \
  X(EnableDebugger, 58, Hint)                  \
  X(DoInitAction, 59, Content)                 \
  X(DefineVideoStream, 60, Content)            \
  X(VideoFrame, 61, Content)                   \
  X(DefineFontInfo2, 62, Content)              \
  X(DebugId, 63, Hint)                         \
  X(EnableDebugger2, 64, Hint)                 \
  X(ScriptLimits, 65, Hint)                    \
  X(SetTabIndex, 66, Hint)                     \
  X(FileAttributes, 69, Hint)                  \
  X(PlaceObject3, 70, Content)                 \
  X(ImportAssets2, 71, Content)                \
  X(DoAbcDefine, 72, Content)                  \
  X(DefineFontAlignZones, 73, Hint)            \
  X(CsmTextSettings, 74, Hint)                 \
  X(DefineFont3, 75, Content)                  \
  X(SymbolClass, 76, Content)                  \
  X(Metadata, 77, Hint)                        \
  X(DefineScalingGrid, 78, Content)            \
  X(DoAbc, 82, Content)                        \
  X(DefineShape4, 83, Content)                 \
  X(DefineMorphShape2, 84, Content)            \
  X(DefineSceneAndFrameLabelData, 86, Content) \
  X(DefineBinaryData, 87, Content)             \
  X(DefineFontName, 88, Hint)                  \
  X(StartSound2, 89, Content)                  \
  X(DefineBitsJpeg4, 90, Content)              \
  X(DefineFont4, 91, Content)                  \
  X(EnableTelemetry, 93, Hint)                 \
  X(PlaceObject4, 94, Content)

enum class TagCode : std::uint16_t {
#define SWF_TAG_ENUMERATOR(name, code, role) name = (code),
  SWF_TAG_CODES(SWF_TAG_ENUMERATOR)
#undef SWF_TAG_ENUMERATOR
};

enum class TagRole : std::uint8_t { Content, Hint };

struct TagInfo {
  std::string_view name;  // empty for a code the format doesn't name
  TagRole role = TagRole::Content;
};

[[nodiscard]] constexpr TagInfo DescribeTag(TagCode code) {
  switch (code) {
#define SWF_TAG_INFO(name, code, role) \
  case TagCode::name:                  \
    return {#name, TagRole::role};
    SWF_TAG_CODES(SWF_TAG_INFO)
#undef SWF_TAG_INFO
  }
  return {};
}

}  // namespace swf
