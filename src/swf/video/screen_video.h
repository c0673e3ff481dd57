#pragma once
// Screen Video (Flash 7): the picture in blocks of up to 256 x 256 pixels, each a zlib stream of
// BGR rows bottom to top, or left out where it didn't change since the picture before.

#include <cstdint>
#include <span>

#include "swf/shape.h"

namespace swf::video {

class ScreenVideoDecoder {
 public:
  // Pictures larger than this are refused before anything is allocated.
  static constexpr int kMaxPixels = 1280 * 720;

  // Updates `picture` (kept between calls) with the packet's blocks. False when the packet is no
  // picture or leaves blocks out before any picture of its size was seen. A damaged block is
  // left as it was.
  bool Decode(std::span<const std::uint8_t> packet, Bitmap& picture);

  // True when every block is in the packet.
  [[nodiscard]] static bool IsKeyframe(std::span<const std::uint8_t> packet);
  // Of Screen Video 2 (decoded by the platform): every block is in the packet and stands on its
  // own (no difference to, nor zlib dictionary from, the picture before).
  [[nodiscard]] static bool IsKeyframe2(std::span<const std::uint8_t> packet);
};

}  // namespace swf::video
