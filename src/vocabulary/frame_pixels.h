#pragma once
// One frame's memory as every layer hands it down, from a platform's window to the SWF
// rasterizer: premultiplied 0xAARRGGBB pixels in native order (bytes B, G, R, A on a
// little-endian machine; layers that show no alpha ignore the A byte), rows `stride` pixels
// apart. The memory belongs to whoever hands it out and is valid only during that call.

#include <cstdint>

namespace launcher {

struct FramePixels {
  std::uint32_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;  // in pixels, at least `width`
};

}  // namespace launcher
