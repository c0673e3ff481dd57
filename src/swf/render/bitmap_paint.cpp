// Bitmap paints: nearest or bilinear samples, repeating or clamped at the edges, with the colour
// transform applied to each texel.
#include <algorithm>
#include <cmath>

#include "swf/render/paint.h"
#include "swf/render/pixel.h"

namespace swf::render {
namespace {

std::uint32_t Transformed(std::uint32_t p, const Paint& paint) {
  const ColorTransform& cx = paint.cx;
  const std::uint32_t a = p >> 24;
  if (paint.cx_mode == 1) {
    const float ma = cx.mul_a;
    const auto ch = [&](int shift, float m) {
      return std::uint32_t(Round(float((p >> shift) & 0xff) * m * ma)) << shift;
    };
    return (std::uint32_t(Round(float(a) * ma)) << 24) | ch(16, cx.mul_r) | ch(8, cx.mul_g) |
           ch(0, cx.mul_b);
  }
  return Premultiply(cx.Apply(Unpremultiply(p)));
}

// Bitmap samples along a row, texel coordinates (u0 + i du, v0 + i dv) with texel centres at .5,
// stepped in 16.16 fixed point (a repeating bitmap wraps by one compare a pixel: the start and
// the step are reduced modulo its size first).
template <bool repeat, bool smooth>
void BitmapRun(const Paint& p, double u0, double v0, double du, double dv, int n,
               std::uint32_t* out) {
  const Bitmap& bm = *p.bitmap;
  const int w = bm.width, h = bm.height;
  const std::uint32_t* texels = bm.pixels.data();
  if constexpr (smooth) {  // between the four nearest centres
    u0 -= 0.5;
    v0 -= 0.5;
  }
  constexpr double kOne = 65536;
  const auto fixed = [](double v) { return std::int64_t(std::clamp(v, -1e9, 1e9) * kOne); };
  const std::int64_t wide = std::int64_t(w) << 16, high = std::int64_t(h) << 16;
  const auto reduce = [](double v, int size) {
    v = std::fmod(v, double(size));
    return v < 0 ? v + size : v;
  };
  std::int64_t u, v, step_u, step_v;
  if constexpr (repeat) {
    u = std::min(fixed(reduce(u0, w)), wide - 1);
    v = std::min(fixed(reduce(v0, h)), high - 1);
    step_u = std::min(fixed(reduce(du, w)), wide - 1);
    step_v = std::min(fixed(reduce(dv, h)), high - 1);
  } else {
    u = fixed(u0);
    v = fixed(v0);
    step_u = fixed(du);
    step_v = fixed(dv);
  }
  for (int i = 0; i < n; ++i) {
    int x0 = int(u >> 16), y0 = int(v >> 16);
    if constexpr (!repeat) {
      x0 = int(std::clamp<std::int64_t>(u >> 16, -1, w - 1));
      y0 = int(std::clamp<std::int64_t>(v >> 16, -1, h - 1));
    }
    if constexpr (!smooth) {
      if constexpr (!repeat) {
        x0 = std::max(x0, 0);
        y0 = std::max(y0, 0);
      }
      out[i] = texels[std::size_t(y0) * std::size_t(w) + std::size_t(x0)];
    } else {
      const auto wu = std::uint32_t((u >> 8) & 255), wv = std::uint32_t((v >> 8) & 255);
      int x1 = x0 + 1, y1 = y0 + 1;
      if constexpr (repeat) {
        if (x1 == w) x1 = 0;
        if (y1 == h) y1 = 0;
      } else {
        x0 = std::max(x0, 0);
        y0 = std::max(y0, 0);
        x1 = std::min(x1, w - 1);
        y1 = std::min(y1, h - 1);
      }
      const std::uint32_t* r0 = texels + std::size_t(y0) * std::size_t(w);
      const std::uint32_t* r1 = texels + std::size_t(y1) * std::size_t(w);
      out[i] = Lerp(Lerp(r0[x0], r0[x1], wu), Lerp(r1[x0], r1[x1], wu), wv);
    }
    u += step_u;
    v += step_v;
    if constexpr (repeat) {
      if (u >= wide) u -= wide;
      if (v >= high) v -= high;
    }
  }
  if (p.cx_mode != 0) {
    for (int i = 0; i < n; ++i) out[i] = Transformed(out[i], p);
  }
}

}  // namespace

void BitmapSpan(const Paint& p, float u0, float v0, float du, float dv, int n, std::uint32_t* out) {
  if (p.repeat) {
    (p.smooth ? BitmapRun<true, true> : BitmapRun<true, false>)(p, u0, v0, du, dv, n, out);
  } else {
    (p.smooth ? BitmapRun<false, true> : BitmapRun<false, false>)(p, u0, v0, du, dv, n, out);
  }
}

}  // namespace swf::render
