#include "swf/video/yuv.h"

#include <algorithm>

namespace swf::video {

void YuvPicture::Resize(int w, int h) {
  width = w;
  height = h;
  luma_stride = (w + 15) / 16 * 16;
  luma_rows = (h + 15) / 16 * 16;
  const std::size_t luma = std::size_t(luma_stride) * std::size_t(luma_rows);
  y.resize(luma);
  u.resize(luma / 4);
  v.resize(luma / 4);
}

namespace {
// 16.16 fixed-point factors of the BT.601 studio-range matrix.
constexpr int kLuma = 76309;    // 255 / 219
constexpr int kRedV = 104597;   // 1.402 * 255 / 224
constexpr int kGreenU = 25675;  // 0.344 * 255 / 224
constexpr int kGreenV = 53279;  // 0.714 * 255 / 224
constexpr int kBlueU = 132201;  // 1.772 * 255 / 224
constexpr int kHalf = 1 << 15;

std::uint32_t Clamp8(int v) {
  return std::uint32_t(std::clamp(v >> 16, 0, 255));
}
}  // namespace

void YuvToBgra(const YuvPicture& picture, Bitmap& out) {
  out.width = picture.width;
  out.height = picture.height;
  out.pixels.resize(std::size_t(out.width) * std::size_t(out.height));
  const int chroma_stride = picture.ChromaStride();
  for (int row = 0; row < picture.height; ++row) {
    const std::uint8_t* ys = picture.y.data() + std::size_t(row) * std::size_t(picture.luma_stride);
    const std::size_t chroma_row = std::size_t(row / 2) * std::size_t(chroma_stride);
    const std::uint8_t* us = picture.u.data() + chroma_row;
    const std::uint8_t* vs = picture.v.data() + chroma_row;
    std::uint32_t* dst = out.pixels.data() + std::size_t(row) * std::size_t(out.width);
    for (int x = 0; x < picture.width; ++x) {
      const int l = (ys[x] - 16) * kLuma + kHalf;
      const int cb = us[x / 2] - 128, cr = vs[x / 2] - 128;
      dst[x] = 0xFF000000u | Clamp8(l + kRedV * cr) << 16 |
               Clamp8(l - kGreenU * cb - kGreenV * cr) << 8 | Clamp8(l + kBlueU * cb);
    }
  }
}

}  // namespace swf::video
