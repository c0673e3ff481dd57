#include "swf/video/screen_video.h"

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <vector>

namespace swf::video {
namespace {

struct Layout {
  int block_width = 0;
  int block_height = 0;
  int width = 0;
  int height = 0;
  [[nodiscard]] int Columns() const { return (width + block_width - 1) / block_width; }
  [[nodiscard]] int Rows() const { return (height + block_height - 1) / block_height; }
};

std::size_t ReadLayout(std::span<const std::uint8_t> p, Layout& l) {
  if (p.size() < 4) return 0;
  l.block_width = ((p[0] >> 4) + 1) * 16;
  l.width = (p[0] & 0x0F) << 8 | p[1];
  l.block_height = ((p[2] >> 4) + 1) * 16;
  l.height = (p[2] & 0x0F) << 8 | p[3];
  return l.width > 0 && l.height > 0 && l.width * l.height <= ScreenVideoDecoder::kMaxPixels ? 4
                                                                                             : 0;
}

// Inflates `in` into exactly out.size() bytes; false when it gives fewer.
bool InflateExactly(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  z.next_in = const_cast<Bytef*>(in.data());  // zlib's API takes no const
  z.avail_in = uInt(in.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  int status = Z_OK;
  while (z.avail_out > 0 && status == Z_OK) status = inflate(&z, Z_NO_FLUSH);
  const bool full = z.avail_out == 0;
  inflateEnd(&z);
  return full;
}

// Every block of the packet present, and each format byte (version 2) without the flags that
// tie it to the picture before.
bool AllBlocks(std::span<const std::uint8_t> packet, bool version2) {
  Layout l;
  std::size_t at = ReadLayout(packet, l);
  if (at == 0) return false;
  if (version2) {
    constexpr std::uint8_t kHasPalette = 0x01;
    if (at >= packet.size() || (packet[at] & kHasPalette)) return false;
    ++at;
  }
  constexpr std::uint8_t kDifference = 0x04, kPrimedByPrevious = 0x01;
  for (int i = 0, n = l.Columns() * l.Rows(); i < n; ++i) {
    if (at + 2 > packet.size()) return false;
    const std::size_t size = std::size_t(packet[at] << 8 | packet[at + 1]);
    if (size == 0) return false;
    if (version2 &&
        (at + 2 >= packet.size() || (packet[at + 2] & (kDifference | kPrimedByPrevious)))) {
      return false;
    }
    at += 2 + size;
  }
  return true;
}

}  // namespace

bool ScreenVideoDecoder::IsKeyframe(std::span<const std::uint8_t> packet) {
  return AllBlocks(packet, false);
}

bool ScreenVideoDecoder::IsKeyframe2(std::span<const std::uint8_t> packet) {
  return AllBlocks(packet, true);
}

bool ScreenVideoDecoder::Decode(std::span<const std::uint8_t> packet, Bitmap& picture) {
  Layout l;
  std::size_t at = ReadLayout(packet, l);
  if (at == 0) return false;
  if (picture.width != l.width || picture.height != l.height) {
    if (!IsKeyframe(packet)) return false;
    picture.width = l.width;
    picture.height = l.height;
    picture.pixels.assign(std::size_t(l.width) * std::size_t(l.height), 0xFF000000u);
  }
  std::vector<std::uint8_t> bgr(std::size_t(l.block_width) * std::size_t(l.block_height) * 3);
  // Block rows from the picture's bottom up, each left to right.
  for (int row = 0; row < l.Rows(); ++row) {
    for (int column = 0; column < l.Columns(); ++column) {
      if (at + 2 > packet.size()) return true;  // cut short: the rest stays
      const std::size_t size = std::size_t(packet[at] << 8 | packet[at + 1]);
      at += 2;
      const auto data = packet.subspan(at, std::min(size, packet.size() - at));
      at += data.size();
      if (size == 0) continue;
      const int x0 = column * l.block_width, bottom = row * l.block_height;
      const int w = std::min(l.block_width, l.width - x0);
      const int h = std::min(l.block_height, l.height - bottom);
      const auto pixels = std::span(bgr).first(std::size_t(w) * std::size_t(h) * 3);
      if (!InflateExactly(data, pixels)) continue;
      for (int j = 0; j < h; ++j) {
        const std::uint8_t* src = pixels.data() + std::size_t(j) * std::size_t(w) * 3;
        std::uint32_t* dst = picture.pixels.data() +
                             std::size_t(l.height - 1 - bottom - j) * std::size_t(l.width) +
                             std::size_t(x0);
        for (int i = 0; i < w; ++i, src += 3) {
          dst[i] = 0xFF000000u | std::uint32_t(src[2]) << 16 | std::uint32_t(src[1]) << 8 | src[0];
        }
      }
    }
  }
  return true;
}

}  // namespace swf::video
