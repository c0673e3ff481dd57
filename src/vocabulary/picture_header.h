#pragma once
// What a logo file claims to be, read from its header before anything is decoded, so that a
// picture too large for memory is refused without being decoded.

#include <cstdint>
#include <optional>
#include <span>

namespace launcher {

// The formats whose size is read here: those the Linux launcher shows, and the common ones of
// Windows' picture loader.
enum class PictureFormat { Jpeg, Png, Gif, Bmp, Webp };

struct PictureHeader {
  PictureFormat format;
  std::uint32_t width;
  std::uint32_t height;
};

// The format and size written in the file's header, or none when the bytes start no picture of
// those formats or end before its size.
[[nodiscard]] std::optional<PictureHeader> ReadPictureHeader(std::span<const unsigned char> file);

}  // namespace launcher
