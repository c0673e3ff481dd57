#include "vocabulary/picture_header.h"

#include <algorithm>
#include <string_view>

namespace launcher {
namespace {

class Bytes {
 public:
  explicit Bytes(std::span<const unsigned char> bytes) : bytes_(bytes) {}

  [[nodiscard]] bool Has(std::size_t at, std::size_t count) const {
    return at <= bytes_.size() && count <= bytes_.size() - at;
  }
  [[nodiscard]] bool Starts(std::size_t at, std::string_view text) const {
    if (!Has(at, text.size())) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (bytes_[at + i] != static_cast<unsigned char>(text[i])) return false;
    }
    return true;
  }
  // Little- and big-endian unsigned values of `count` bytes; the caller checks Has() first.
  [[nodiscard]] std::uint32_t Le(std::size_t at, std::size_t count) const {
    std::uint32_t value = 0;
    for (std::size_t i = count; i-- > 0;) value = (value << 8) | bytes_[at + i];
    return value;
  }
  [[nodiscard]] std::uint32_t Be(std::size_t at, std::size_t count) const {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < count; ++i) value = (value << 8) | bytes_[at + i];
    return value;
  }
  [[nodiscard]] unsigned char At(std::size_t at) const { return bytes_[at]; }

 private:
  std::span<const unsigned char> bytes_;
};

std::optional<PictureHeader> Jpeg(const Bytes& b) {
  // Segments follow one another, each with its length, up to the frame header that holds the size.
  std::size_t at = 2;
  while (b.Has(at, 2)) {
    if (b.At(at) != 0xFF) return std::nullopt;
    const unsigned char marker = b.At(at + 1);
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    at += 2;
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // no length
    if (marker == 0xD9 || marker == 0xDA || !b.Has(at, 2)) return std::nullopt;
    const std::size_t length = b.Be(at, 2);
    const bool frame =
        marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame) {
      if (length < 7 || !b.Has(at, 7)) return std::nullopt;
      return PictureHeader{PictureFormat::Jpeg, b.Be(at + 5, 2), b.Be(at + 3, 2)};
    }
    if (length < 2) return std::nullopt;
    at += length;
  }
  return std::nullopt;
}

// SDL_image sizes a GIF by its first image, which may be larger than the screen it claims.
std::optional<PictureHeader> Gif(const Bytes& b) {
  if (!b.Has(6, 7)) return std::nullopt;
  std::uint32_t width = b.Le(6, 2);
  std::uint32_t height = b.Le(8, 2);
  std::size_t at = 13;
  if ((b.At(10) & 0x80U) != 0) at += std::size_t{3} << ((b.At(10) & 0x07U) + 1);
  while (b.Has(at, 1)) {
    if (b.At(at) == 0x2C) {  // the first image
      if (!b.Has(at + 5, 4)) return std::nullopt;
      width = std::max(width, b.Le(at + 5, 2));
      height = std::max(height, b.Le(at + 7, 2));
      return PictureHeader{PictureFormat::Gif, width, height};
    }
    if (b.At(at) != 0x21 || !b.Has(at, 3)) return std::nullopt;
    at += 2;  // an extension: its label, then sub-blocks up to an empty one
    while (b.Has(at, 1) && b.At(at) != 0) at += std::size_t{b.At(at)} + 1;
    ++at;
  }
  return std::nullopt;
}

std::optional<PictureHeader> Bmp(const Bytes& b) {
  if (!b.Has(14, 4)) return std::nullopt;
  if (b.Le(14, 4) == 12) {  // the old OS/2 header: 16-bit sizes
    if (!b.Has(18, 4)) return std::nullopt;
    return PictureHeader{PictureFormat::Bmp, b.Le(18, 2), b.Le(20, 2)};
  }
  if (!b.Has(18, 8)) return std::nullopt;
  // Signed sizes; a negative height means rows from the top.
  const auto magnitude = [](std::uint32_t v) { return v > 0x7FFFFFFFU ? ~v + 1 : v; };
  return PictureHeader{PictureFormat::Bmp, magnitude(b.Le(18, 4)), magnitude(b.Le(22, 4))};
}

std::optional<PictureHeader> Webp(const Bytes& b) {
  if (b.Starts(12, "VP8 ") && b.Has(26, 4)) {
    return PictureHeader{PictureFormat::Webp, b.Le(26, 2) & 0x3FFFU, b.Le(28, 2) & 0x3FFFU};
  }
  if (b.Starts(12, "VP8L") && b.Has(21, 4)) {
    const std::uint32_t bits = b.Le(21, 4);
    return PictureHeader{PictureFormat::Webp, (bits & 0x3FFFU) + 1, ((bits >> 14) & 0x3FFFU) + 1};
  }
  if (b.Starts(12, "VP8X") && b.Has(24, 6)) {
    return PictureHeader{PictureFormat::Webp, b.Le(24, 3) + 1, b.Le(27, 3) + 1};
  }
  return std::nullopt;
}

}  // namespace

std::optional<PictureHeader> ReadPictureHeader(std::span<const unsigned char> file) {
  const Bytes b(file);
  if (b.Starts(0, "\xFF\xD8")) return Jpeg(b);
  if (b.Starts(0, "\x89PNG\r\n\x1A\n")) {
    if (!b.Starts(12, "IHDR") || !b.Has(16, 8)) return std::nullopt;
    return PictureHeader{PictureFormat::Png, b.Be(16, 4), b.Be(20, 4)};
  }
  if (b.Starts(0, "GIF87a") || b.Starts(0, "GIF89a")) return Gif(b);
  if (b.Starts(0, "BM")) return Bmp(b);
  if (b.Starts(0, "RIFF") && b.Starts(8, "WEBP")) return Webp(b);
  return std::nullopt;
}

}  // namespace launcher
