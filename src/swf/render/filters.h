#pragma once
// Filters on a layer's premultiplied pixels: blur, the shadow kinds (drop shadow, glow, bevel,
// gradient glow, gradient bevel), colour matrix and convolution. Each works inside a box of the
// layer; the box must already hold everything the filter draws (GrowByFilters).

#include <cstdint>
#include <vector>

#include "swf/effects.h"
#include "swf/render/blur.h"
#include "swf/render/compositor.h"

namespace swf::render {

// How far a filter draws outside what it is given, in whole canvas pixels each way.
struct Reach {
  int left = 0, top = 0, right = 0, bottom = 0;
};
[[nodiscard]] Reach FilterReach(const Filter& filter, float scale);

// What the filters reuse from call to call.
struct FilterScratch {
  std::vector<std::uint8_t> alpha;
  std::vector<std::uint32_t> pixels;
  BlurScratch blur;
};

// Applies `filter` (sizes times `scale`) to the pixels in `box`, rows `stride` pixels apart.
void ApplyFilter(const Filter& filter, float scale, std::uint32_t* pixels, int stride, PixelBox box,
                 FilterScratch& scratch);

}  // namespace swf::render
