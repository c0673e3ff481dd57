// Runs of coverage onto the target: whole pixels stored or drawn over, partial ones mixed.
#include "swf/render/compositor.h"

#include <algorithm>

#include "swf/render/pixel.h"

namespace swf::render {

void Compositor::Fill(Rasterizer& raster, bool even_odd, const Paint* paint_of, PixelBox box,
                      const FramePixels& target, const MaskLayer* clip, MaskLayer* mask) {
  const int width = target.width;
  if (mask != nullptr) clip = nullptr;
  if (clip != nullptr) {
    box.x0 = std::max(box.x0, clip->x0);
    box.x1 = std::min(box.x1, clip->x1);
    box.y0 = std::max(box.y0, clip->y0);
    box.y1 = std::min(box.y1, clip->y1);
  }
  if (box.Empty()) return;
  if (span_.size() < std::size_t(width)) span_.resize(std::size_t(width));
  if (mix_.size() < std::size_t(width)) mix_.assign(std::size_t(width), 0);
  int partial_min = width, partial_max = 0;
  std::uint32_t* row = nullptr;
  const std::uint8_t* clip_row = nullptr;

  const auto begin = [&](int y) {
    row = target.pixels + std::ptrdiff_t(y) * target.stride;
    clip_row = clip ? clip->coverage.data() + std::ptrdiff_t(y) * clip->width : nullptr;
  };
  // Pixels a style covers whole are drawn at once (stored where the paint is opaque); pixels it
  // covers in part are added up with the other styles' parts in `mix_`, drawn at the row's end.
  const auto draw_run = [&](const Paint& paint, int y, int x0, int x1, int value,
                            std::uint8_t* cov) {
    const bool solid = paint.kind == PaintKind::Solid;
    if (value == 255) {
      if (paint.opaque && solid) {
        std::fill(row + x0, row + x1, paint.color);
      } else if (paint.opaque) {
        PaintSpan(paint, y, x0, x1 - x0, row + x0);
      } else {
        if (!solid) PaintSpan(paint, y, x0, x1 - x0, span_.data() + x0);
        for (int i = x0; i < x1; ++i) {  // a bitmap's opaque texels stored as they are
          const std::uint32_t src = solid ? paint.color : span_[std::size_t(i)];
          row[i] = src >= 0xff000000u ? src : Over(src, row[i]);
        }
      }
      return;
    }
    if (value > 0) std::fill(cov + x0, cov + x1, std::uint8_t(value));
    if (!solid) PaintSpan(paint, y, x0, x1 - x0, span_.data() + x0);
    partial_min = std::min(partial_min, x0);
    partial_max = std::max(partial_max, x1);
    for (int i = x0; i < x1; ++i) {
      const std::uint32_t c = cov[i];
      if (c == 0) continue;
      const std::uint32_t src = solid ? paint.color : span_[std::size_t(i)];
      if (c == 255) {
        row[i] = paint.opaque ? src : Over(src, row[i]);
      } else {
        mix_[std::size_t(i)] = AddPixel(mix_[std::size_t(i)], MulPixel(src, c));
      }
    }
  };
  const auto emit = [&](std::uint32_t style, int y, const Rasterizer::Run* runs, std::size_t count,
                        std::uint8_t* cov) {
    const Paint* paint = mask != nullptr ? nullptr : &paint_of[style];
    if (paint != nullptr && (paint->kind == PaintKind::None || paint->kind == PaintKind::Nothing)) {
      return;
    }
    for (std::size_t r = 0; r < count; ++r) {
      const int x0 = std::max(runs[r].x0, box.x0), x1 = std::min(runs[r].x1, box.x1);
      int value = runs[r].value;
      if (x0 >= x1) continue;
      if (mask != nullptr) {  // union into the mask being built
        std::uint8_t* m = mask->coverage.data() + std::ptrdiff_t(y) * mask->width;
        for (int x = x0; x < x1; ++x) {
          const std::uint32_t c = value >= 0 ? std::uint32_t(value) : cov[x];
          if (c != 0) m[x] = std::uint8_t(c + Mul8(m[x], 255 - c));
        }
        mask->x0 = std::min(mask->x0, x0);
        mask->x1 = std::max(mask->x1, x1);
        mask->y0 = std::min(mask->y0, y);
        mask->y1 = std::max(mask->y1, y + 1);
        continue;
      }
      if (clip_row != nullptr) {  // clipped, every pixel has a coverage of its own
        if (value >= 0) std::fill(cov + x0, cov + x1, std::uint8_t(value));
        for (int x = x0; x < x1; ++x) cov[x] = std::uint8_t(Mul8(cov[x], clip_row[x]));
        value = -1;
      }
      draw_run(*paint, y, x0, x1, value, cov);
    }
  };
  const auto end = [&](int) {
    for (int x = partial_min; x < partial_max; ++x) {  // cleared as it goes
      const std::uint32_t s = mix_[std::size_t(x)];
      if (s == 0) continue;
      mix_[std::size_t(x)] = 0;
      row[x] = (s >> 24) == 255 ? s : Over(s, row[x]);
    }
    partial_min = width;
    partial_max = 0;
  };
  raster.Sweep(even_odd, box.y0, box.y1, begin, emit, end);
}

}  // namespace swf::render
