#pragma once
// A PNG file of a frame: 8-bit RGBA, unfiltered rows, zlib as the core links it. Small and the
// same on every platform, so both swfcheck builds write the same bytes for the same frame.

#include <cstdint>
#include <vector>

namespace swfcheck {

// `bgra`: premultiplied 0xAARRGGBB pixels in native order, `width` x `height`, rows `stride`
// pixels apart. Empty when zlib fails (out of memory).
[[nodiscard]] std::vector<std::uint8_t> EncodePng(const std::uint32_t* bgra, int width, int height,
                                                  int stride);

}  // namespace swfcheck
