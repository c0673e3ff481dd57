#pragma once
// Compositing a sweep: the runs of coverage the rasterizer yields, each style painted with its
// paint and drawn src-over onto the target, clipped by a mask, or added into a mask being built.
// Where several styles share a pixel partly, their premultiplied colours are added in a row
// buffer before one src-over, which is what makes shared edges seamless.

#include <cstdint>
#include <vector>

#include "swf/render.h"
#include "swf/render/mask.h"
#include "swf/render/paint.h"
#include "swf/render/rasterizer.h"

namespace swf::render {

// A box of pixels: [x0, x1) x [y0, y1).
struct PixelBox {
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  [[nodiscard]] bool Empty() const { return x0 >= x1 || y0 >= y1; }
};

class Compositor {
 public:
  // Sweeps `raster` within `box`: style n painted with paint_of[n] onto `target` clipped by
  // `clip` (none: unclipped), or, with `mask` given, its coverage added to that mask instead.
  void Fill(Rasterizer& raster, bool even_odd, const Paint* paint_of, PixelBox box,
            const FramePixels& target, const MaskLayer* clip, MaskLayer* mask);

 private:
  std::vector<std::uint32_t> span_;  // one row of paint
  std::vector<std::uint32_t> mix_;   // one row of colours added up where styles share pixels
};

}  // namespace swf::render
