#pragma once
// Pictures in the planes the block codecs decode into, and their colours as the core draws them.

#include <cstdint>
#include <vector>

#include "swf/shape.h"

namespace swf::video {

// 4:2:0 planes sized to whole 16x16 macroblocks; `width` and `height` are what is shown.
struct YuvPicture {
  int width = 0;
  int height = 0;
  int luma_stride = 0;  // the luma plane's width and row step: whole macroblocks
  int luma_rows = 0;
  std::vector<std::uint8_t> y;
  std::vector<std::uint8_t> u;  // chroma: half the luma plane in each direction
  std::vector<std::uint8_t> v;

  [[nodiscard]] int ChromaStride() const { return luma_stride / 2; }
  // Sizes the planes for a width x height picture; their contents are left as they were.
  void Resize(int w, int h);
};

// The picture as opaque pixels (BT.601 studio range to RGB, each chroma sample on its 2x2
// luma samples), resized to the picture's size.
void YuvToBgra(const YuvPicture& picture, Bitmap& out);

}  // namespace swf::video
