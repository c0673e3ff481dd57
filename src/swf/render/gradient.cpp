// Gradient paints: the colour table of 256 entries (interpolated in sRGB or linear RGB, the
// colour transform applied), and linear, radial and focal spans that index it under the spread.
#include <algorithm>
#include <cmath>

#include "swf/render/paint.h"
#include "swf/render/pixel.h"

namespace swf::render {
namespace {

float SrgbToLinear(float c) {
  return c <= 0.04045f ? c / 12.92f : std::pow((c + 0.055f) / 1.055f, 2.4f);
}

// The table index of gradient position t (0..1 across the gradient) under each spread.
template <SpreadMode spread>
inline int LutIndex(float t) {
  t = t > -16384.0f ? (t < 16384.0f ? t : 16384.0f) : -16384.0f;  // NaN (overflowed maths) too
  const int f = int(t * 65536);
  int u;
  if constexpr (spread == SpreadMode::Pad) {
    u = std::clamp(f, 0, 65536);
  } else if constexpr (spread == SpreadMode::Repeat) {
    u = f & 0xffff;
  } else {
    u = f & 0x1ffff;
    if (u > 0x10000) u = 0x20000 - u;
  }
  return (u * 255 + 32768) >> 16;
}

// out[i] = lut[index of position(i)] for i < n, with the spread chosen once.
template <typename Position>
void GradientRun(const Paint& p, int n, std::uint32_t* out, Position&& position) {
  const auto run = [&](auto index) {
    for (int i = 0; i < n; ++i) out[i] = p.lut[std::size_t(index(position(i)))];
  };
  switch (p.spread) {
    case SpreadMode::Pad:
      run([](float t) { return LutIndex<SpreadMode::Pad>(t); });
      break;
    case SpreadMode::Repeat:
      run([](float t) { return LutIndex<SpreadMode::Repeat>(t); });
      break;
    default:
      run([](float t) { return LutIndex<SpreadMode::Reflect>(t); });
      break;
  }
}

}  // namespace

LinearTables::LinearTables() {
  for (int i = 0; i < 256; ++i) to_linear[std::size_t(i)] = SrgbToLinear(float(i) / 255);
  for (int i = 0; i < 4096; ++i) {
    const float l = float(i) / 4095;
    const float s = l <= 0.0031308f ? l * 12.92f : 1.055f * std::pow(l, 1 / 2.4f) - 0.055f;
    to_srgb[std::size_t(i)] = std::uint8_t(Round(std::clamp(s, 0.0f, 1.0f) * 255));
  }
}

void BuildLut(const Gradient& g, const ColorTransform& cx, const LinearTables& tables,
              std::array<std::uint32_t, 256>& lut, Paint& paint) {
  const bool linear_rgb = g.interpolation == InterpolationMode::LinearRgb;
  std::uint32_t alpha_and = 0xff;
  ForEachGradientEntry(
      g.stops, [&](int i, const GradientStop& s0, const GradientStop& s1, float f) {
        const auto mix = [&](std::uint8_t a, std::uint8_t b) {
          if (!linear_rgb) return std::uint8_t(Round(float(a) + (float(b) - float(a)) * f));
          const float l = tables.to_linear[a] + (tables.to_linear[b] - tables.to_linear[a]) * f;
          return tables.to_srgb[std::size_t(Round(std::clamp(l, 0.0f, 1.0f) * 4095))];
        };
        const Rgba c = cx.Apply(
            {mix(s0.color.r, s1.color.r), mix(s0.color.g, s1.color.g), mix(s0.color.b, s1.color.b),
             std::uint8_t(Round(float(s0.color.a) + (float(s1.color.a) - float(s0.color.a)) * f))});
        alpha_and &= c.a;
        lut[std::size_t(i)] = Premultiply(c);
      });
  paint.opaque = alpha_and == 0xff;
  paint.lut = lut.data();
}

void GradientSpan(const Paint& p, float u0, float v0, float du, float dv, int n,
                  std::uint32_t* out) {
  switch (p.kind) {
    case PaintKind::Linear:
      GradientRun(p, n, out, [&](int i) { return (u0 + du * float(i)) * 0.5f + 0.5f; });
      break;
    case PaintKind::Radial:
      GradientRun(p, n, out, [&](int i) {
        const float u = u0 + du * float(i), v = v0 + dv * float(i);
        return std::sqrt(u * u + v * v);
      });
      break;
    default: {
      // Focal: t where the point lies on the circle through the focus scaled by t: solves
      // (f^2 - 1) t^2 - 2 b t + |d|^2 = 0 with d = point - focus, b = -f d.x.
      const float f = p.focal, inverse_a = 1 / (f * f - 1), a = f * f - 1;
      GradientRun(p, n, out, [&](int i) {
        const float dx = u0 + du * float(i) - f, dy = v0 + dv * float(i);
        const float b = -f * dx, c = dx * dx + dy * dy;
        return (b - std::sqrt(std::max(0.0f, b * b - a * c))) * inverse_a;
      });
      break;
    }
  }
}

}  // namespace swf::render
