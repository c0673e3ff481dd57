#include "swfcheck/png_writer.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

namespace swfcheck {
namespace {

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(std::uint8_t(v >> shift));
}

// A chunk: length, type, data, and the CRC of type and data.
void PutChunk(std::vector<std::uint8_t>& out, std::string_view type,
              const std::vector<std::uint8_t>& data) {
  PutU32(out, std::uint32_t(data.size()));
  const std::size_t start = out.size();
  out.insert(out.end(), type.begin(), type.end());
  out.insert(out.end(), data.begin(), data.end());
  const uLong crc = crc32(0, out.data() + start, uInt(out.size() - start));
  PutU32(out, std::uint32_t(crc));
}

// Straight (not premultiplied) alpha, as PNG stores it.
std::array<std::uint8_t, 4> Straight(std::uint32_t argb) {
  const std::uint32_t a = argb >> 24;
  const auto channel = [a](std::uint32_t c) {
    if (a == 0) return std::uint8_t(0);
    return std::uint8_t(a == 255 ? c : std::min<std::uint32_t>(255, (c * 255 + a / 2) / a));
  };
  return {channel(argb >> 16 & 0xFF), channel(argb >> 8 & 0xFF), channel(argb & 0xFF),
          std::uint8_t(a)};
}

}  // namespace

std::vector<std::uint8_t> EncodePng(const std::uint32_t* bgra, int width, int height, int stride) {
  // Each row: filter type 0 (none), then its pixels.
  std::vector<std::uint8_t> raw;
  raw.reserve(std::size_t(height) * (std::size_t(width) * 4 + 1));
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);
    const std::uint32_t* row = bgra + std::size_t(y) * std::size_t(stride);
    for (int x = 0; x < width; ++x) {
      const auto rgba = Straight(row[x]);
      raw.insert(raw.end(), rgba.begin(), rgba.end());
    }
  }
  uLongf packed_size = compressBound(uLong(raw.size()));
  std::vector<std::uint8_t> packed(packed_size);
  if (compress2(packed.data(), &packed_size, raw.data(), uLong(raw.size()), 6) != Z_OK) return {};
  packed.resize(packed_size);

  std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  PutU32(header, std::uint32_t(width));
  PutU32(header, std::uint32_t(height));
  header.insert(header.end(),
                {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, no filter set, no interlace
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", packed);
  PutChunk(png, "IEND", {});
  return png;
}

}  // namespace swfcheck
