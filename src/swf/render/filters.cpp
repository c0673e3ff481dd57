// The filters.
#include "swf/render/filters.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "swf/render/blur.h"
#include "swf/render/paint.h"
#include "swf/render/pixel.h"

namespace swf::render {
namespace {

// Blur sizes grow with the stage's scale as Flash grows them: one pixel stays one pixel.
float ScaledBlur(float size, float scale) {
  if (!std::isfinite(size) || size <= 1) return std::isfinite(size) ? size : 0;
  return std::min((size - 1) * scale + 1, 1024.0f);
}

struct Offset {
  int dx = 0, dy = 0;
};
Offset ShadowOffset(const ShadowFilter& f, float scale) {
  const float d = std::isfinite(f.distance) ? std::clamp(f.distance * scale, -4096.0f, 4096.0f) : 0;
  const float a = std::isfinite(f.angle) ? f.angle : 0;
  return {int(std::lround(std::cos(a) * d)), int(std::lround(std::sin(a) * d))};
}

// The 256 premultiplied colours of a gradient filter's stops.
std::array<std::uint32_t, 256> GradientColors(const std::vector<GradientStop>& stops) {
  std::array<std::uint32_t, 256> lut{};
  if (stops.empty()) return lut;
  ForEachGradientEntry(stops, [&](int i, const GradientStop& s0, const GradientStop& s1, float f) {
    const auto mix = [f](std::uint8_t a, std::uint8_t b) {
      return std::uint8_t(Round(float(a) + (float(b) - float(a)) * f));
    };
    lut[std::size_t(i)] = Premultiply({mix(s0.color.r, s1.color.r), mix(s0.color.g, s1.color.g),
                                       mix(s0.color.b, s1.color.b), mix(s0.color.a, s1.color.a)});
  });
  return lut;
}

void Blur(const BlurFilter& f, float scale, std::uint32_t* pixels, int stride, PixelBox box,
          FilterScratch& scratch) {
  BoxBlur(reinterpret_cast<std::uint8_t*>(pixels + std::ptrdiff_t(box.y0) * stride + box.x0),
          box.x1 - box.x0, box.y1 - box.y0, stride * 4, 4, ScaledBlur(f.blur_x, scale),
          ScaledBlur(f.blur_y, scale), f.passes, scratch.blur);
}

void Shadow(const ShadowFilter& f, float scale, std::uint32_t* pixels, int stride, PixelBox box,
            FilterScratch& scratch) {
  const int w = box.x1 - box.x0, h = box.y1 - box.y0;
  const std::size_t size = std::size_t(w) * std::size_t(h);
  // The object's alpha, and its blurred copy.
  scratch.alpha.resize(size * 2);
  std::uint8_t* alpha = scratch.alpha.data();
  std::uint8_t* blurred = alpha + size;
  for (int y = 0; y < h; ++y) {
    const std::uint32_t* row = pixels + std::ptrdiff_t(y + box.y0) * stride + box.x0;
    for (int x = 0; x < w; ++x)
      alpha[std::size_t(y) * std::size_t(w) + std::size_t(x)] = std::uint8_t(row[x] >> 24);
  }
  std::copy_n(alpha, size, blurred);
  BoxBlur(blurred, w, h, w, 1, ScaledBlur(f.blur_x, scale), ScaledBlur(f.blur_y, scale), f.passes,
          scratch.blur);
  const Offset off = ShadowOffset(f, scale);
  const auto sample = [&](int x, int y) -> std::int32_t {
    return x >= 0 && x < w && y >= 0 && y < h
               ? blurred[std::size_t(y) * std::size_t(w) + std::size_t(x)]
               : 0;
  };
  const bool gradient = f.kind == ShadowKind::GradientGlow || f.kind == ShadowKind::GradientBevel;
  const bool bevel = f.kind == ShadowKind::Bevel || f.kind == ShadowKind::GradientBevel;
  const std::array<std::uint32_t, 256> lut =
      gradient ? GradientColors(f.gradient) : std::array<std::uint32_t, 256>{};
  const std::uint32_t color = Premultiply(f.color), highlight = Premultiply(f.highlight);
  const float strength = std::isfinite(f.strength) ? std::clamp(f.strength, 0.0f, 255.0f) : 1;
  const auto strong = [strength](std::int32_t v) {
    return std::uint32_t(std::clamp(Round(float(v) * strength), 0, 255));
  };
  for (int y = 0; y < h; ++y) {
    std::uint32_t* row = pixels + std::ptrdiff_t(y + box.y0) * stride + box.x0;
    for (int x = 0; x < w; ++x) {
      const std::uint32_t src = row[x];
      const std::uint32_t sa = src >> 24;
      std::uint32_t effect;
      if (bevel) {
        // The highlight on the edge facing the light (where the object lies away from it), the
        // shadow on the other; a gradient runs from the highlight's end (0) to the shadow's.
        const std::int32_t lit = sample(x + off.dx, y + off.dy) - sample(x - off.dx, y - off.dy);
        if (gradient) {
          const std::int32_t v = std::clamp(Round(float(-lit) * strength * 0.5f) + 128, 0, 255);
          effect = lut[std::size_t(v)];
        } else {
          effect = lit > 0 ? MulPixel(highlight, strong(lit)) : MulPixel(color, strong(-lit));
        }
      } else {
        std::int32_t v = sample(x - off.dx, y - off.dy);
        if (f.inner) v = 255 - v;
        effect = gradient ? lut[strong(v)] : MulPixel(color, strong(v));
      }
      const bool hide = f.knockout || f.hide_object;
      std::uint32_t out;
      if (f.on_top && bevel) {
        out = f.knockout ? effect : Over(effect, src);
      } else if (f.inner) {
        effect = MulPixel(effect, sa);
        out = hide ? effect : Over(effect, src);
      } else if (f.knockout) {
        out = MulPixel(effect, 255 - sa);
      } else {
        out = f.hide_object ? effect : Over(src, effect);
      }
      row[x] = out;
    }
  }
}

void ColorMatrix(const ColorMatrixFilter& f, std::uint32_t* pixels, int stride, PixelBox box) {
  std::array<float, 20> m = f.matrix;
  for (float& v : m) v = std::isfinite(v) ? std::clamp(v, -1e6f, 1e6f) : 0;
  for (int y = box.y0; y < box.y1; ++y) {
    std::uint32_t* row = pixels + std::ptrdiff_t(y) * stride;
    for (int x = box.x0; x < box.x1; ++x) {
      const std::uint32_t p = row[x];
      const Rgba straight = Unpremultiply(p);
      const float c[4] = {float(straight.r), float(straight.g), float(straight.b),
                          float(straight.a)};
      std::uint8_t out[4];
      for (int i = 0; i < 4; ++i) {
        const float* r = &m[std::size_t(i) * 5];
        const float v = r[0] * c[0] + r[1] * c[1] + r[2] * c[2] + r[3] * c[3] + r[4];
        out[i] = std::uint8_t(Round(std::clamp(v, 0.0f, 255.0f)));
      }
      row[x] = Premultiply({out[0], out[1], out[2], out[3]});
    }
  }
}

void Convolution(const ConvolutionFilter& f, std::uint32_t* pixels, int stride, PixelBox box,
                 FilterScratch& scratch) {
  const int cols = f.columns, rows = f.rows;
  // Flash's kernels are at most 15 x 15.
  if (cols <= 0 || rows <= 0 || cols > 15 || rows > 15 ||
      f.matrix.size() < std::size_t(cols) * std::size_t(rows))
    return;
  const int w = box.x1 - box.x0, h = box.y1 - box.y0;
  // The straight colours of the box, read while the box is written.
  scratch.pixels.resize(std::size_t(w) * std::size_t(h));
  for (int y = 0; y < h; ++y) {
    const std::uint32_t* row = pixels + std::ptrdiff_t(y + box.y0) * stride + box.x0;
    for (int x = 0; x < w; ++x) {
      const Rgba c = Unpremultiply(row[x]);
      scratch.pixels[std::size_t(y) * std::size_t(w) + std::size_t(x)] =
          (std::uint32_t(c.a) << 24) | (std::uint32_t(c.r) << 16) | (std::uint32_t(c.g) << 8) | c.b;
    }
  }
  const std::uint32_t outside = (std::uint32_t(f.default_color.a) << 24) |
                                (std::uint32_t(f.default_color.r) << 16) |
                                (std::uint32_t(f.default_color.g) << 8) | f.default_color.b;
  const float divisor = std::isfinite(f.divisor) && f.divisor != 0 ? f.divisor : 1;
  const float bias = std::isfinite(f.bias) ? f.bias : 0;
  const auto at = [&](int x, int y) {
    if (f.clamp) {
      x = std::clamp(x, 0, w - 1);
      y = std::clamp(y, 0, h - 1);
    } else if (x < 0 || x >= w || y < 0 || y >= h) {
      return outside;
    }
    return scratch.pixels[std::size_t(y) * std::size_t(w) + std::size_t(x)];
  };
  for (int y = 0; y < h; ++y) {
    std::uint32_t* row = pixels + std::ptrdiff_t(y + box.y0) * stride + box.x0;
    for (int x = 0; x < w; ++x) {
      float sum[4] = {};
      for (int j = 0; j < rows; ++j) {
        for (int i = 0; i < cols; ++i) {
          const float k = f.matrix[std::size_t(j) * std::size_t(cols) + std::size_t(i)];
          const std::uint32_t p = at(x + i - cols / 2, y + j - rows / 2);
          sum[0] += k * float((p >> 16) & 0xff);
          sum[1] += k * float((p >> 8) & 0xff);
          sum[2] += k * float(p & 0xff);
          sum[3] += k * float(p >> 24);
        }
      }
      const auto channel = [&](float v) {
        v = v / divisor + bias;
        return std::uint8_t(Round(std::isfinite(v) ? std::clamp(v, 0.0f, 255.0f) : 0.0f));
      };
      const std::uint8_t a =
          f.preserve_alpha
              ? std::uint8_t(scratch.pixels[std::size_t(y) * std::size_t(w) + std::size_t(x)] >> 24)
              : channel(sum[3]);
      row[x] = Premultiply({channel(sum[0]), channel(sum[1]), channel(sum[2]), a});
    }
  }
}

}  // namespace

Reach FilterReach(const Filter& filter, float scale) {
  if (const auto* blur = std::get_if<BlurFilter>(&filter)) {
    const int x = BlurReach(ScaledBlur(blur->blur_x, scale), blur->passes);
    const int y = BlurReach(ScaledBlur(blur->blur_y, scale), blur->passes);
    return {x, y, x, y};
  }
  if (const auto* shadow = std::get_if<ShadowFilter>(&filter)) {
    const int x = BlurReach(ScaledBlur(shadow->blur_x, scale), shadow->passes);
    const int y = BlurReach(ScaledBlur(shadow->blur_y, scale), shadow->passes);
    Reach r{x, y, x, y};
    if (shadow->inner && !shadow->on_top) return r;
    const Offset off = ShadowOffset(*shadow, scale);
    const bool both =
        shadow->kind == ShadowKind::Bevel || shadow->kind == ShadowKind::GradientBevel;
    const auto grow = [both](int d, int& low, int& high) {
      if (d > 0 || both) high += std::abs(d);
      if (d < 0 || both) low += std::abs(d);
    };
    grow(off.dx, r.left, r.right);
    grow(off.dy, r.top, r.bottom);
    return r;
  }
  return {};
}

void ApplyFilter(const Filter& filter, float scale, std::uint32_t* pixels, int stride, PixelBox box,
                 FilterScratch& scratch) {
  if (box.Empty()) return;
  if (!(scale > 0) || !std::isfinite(scale)) scale = 1;
  if (const auto* blur = std::get_if<BlurFilter>(&filter)) {
    Blur(*blur, scale, pixels, stride, box, scratch);
  } else if (const auto* shadow = std::get_if<ShadowFilter>(&filter)) {
    Shadow(*shadow, scale, pixels, stride, box, scratch);
  } else if (const auto* matrix = std::get_if<ColorMatrixFilter>(&filter)) {
    ColorMatrix(*matrix, pixels, stride, box);
  } else if (const auto* convolution = std::get_if<ConvolutionFilter>(&filter)) {
    Convolution(*convolution, pixels, stride, box, scratch);
  }
}

}  // namespace swf::render
