#pragma once
// The codes of the tags the reader knows: the one table every part of the core names them by.

#include <cstdint>

namespace swf {

enum class TagCode : std::uint16_t {
  End = 0,
  ShowFrame = 1,
  DefineShape = 2,
  PlaceObject = 4,
  RemoveObject = 5,
  DefineBits = 6,
  JpegTables = 8,
  SetBackgroundColor = 9,
  DefineFont = 10,
  DefineText = 11,
  DoAction = 12,
  DefineSound = 14,
  StartSound = 15,
  SoundStreamHead = 18,
  SoundStreamBlock = 19,
  DefineBitsLossless = 20,
  DefineBitsJpeg2 = 21,
  DefineShape2 = 22,
  PlaceObject2 = 26,
  RemoveObject2 = 28,
  DefineShape3 = 32,
  DefineText2 = 33,
  DefineBitsJpeg3 = 35,
  DefineBitsLossless2 = 36,
  DefineSprite = 39,
  FrameLabel = 43,
  SoundStreamHead2 = 45,
  DefineMorphShape = 46,
  ExportAssets = 56,
  DoInitAction = 59,
  DefineFont2 = 48,
  PlaceObject3 = 70,
  DefineFont3 = 75,
  DefineShape4 = 83,
  DefineMorphShape2 = 84,
  StartSound2 = 89,
  DefineBitsJpeg4 = 90,
};

}  // namespace swf
