#pragma once
// The SWF player's JPEG, PNG and GIF bitmaps on Linux, through SDL_image as the logo is.

#include "swf/swf_player.h"

namespace launcher::sdl {

class SdlImageDecoder final : public swf::ImageDecoder {
 public:
  std::optional<swf::Bitmap> Decode(std::span<const std::uint8_t> bytes,
                                    std::uint64_t max_pixels) override;
};

}  // namespace launcher::sdl
