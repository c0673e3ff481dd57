#pragma once
// Paints as span generators: a fill style prepared once for a pass (its colour transform and
// matrix folded in), then asked for the premultiplied colours of runs of pixels. Solid colours,
// gradients (gradient.cpp) and bitmaps (bitmap_paint.cpp).

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <memory>

#include "swf/shape.h"

namespace swf::render {

// Tables between sRGB and linear light, for gradients interpolated in linear RGB.
struct LinearTables {
  std::array<float, 256> to_linear{};
  std::array<std::uint8_t, 4096> to_srgb{};
  LinearTables();
};

// None: not prepared yet; Nothing: prepared, draws nothing (a missing bitmap, a singular matrix).
enum class PaintKind : std::uint8_t { None, Nothing, Solid, Linear, Radial, Focal, Bitmap };

struct Paint {
  PaintKind kind = PaintKind::None;
  bool opaque = false;
  SpreadMode spread = SpreadMode::Pad;
  bool repeat = true;
  bool smooth = true;
  std::uint8_t cx_mode = 0;  // bitmaps: 0 none, 1 multiply only, 2 full
  std::uint32_t color = 0;   // solid, premultiplied
  float focal = 0;
  Matrix inverse;  // canvas pixel -> gradient square (normalised to -1..1) or bitmap pixel
  const Bitmap* bitmap = nullptr;
  std::shared_ptr<const Bitmap> held;  // a cached bitmap's pixels, kept while the paint is used
  ColorTransform cx;
  const std::uint32_t* lut = nullptr;  // gradients: 256 premultiplied colours, in a LutPool
};

// The gradient tables of the paints of one pass; reused from pass to pass.
class LutPool {
 public:
  std::array<std::uint32_t, 256>& Next() {
    if (used_ == tables_.size()) tables_.emplace_back();  // a deque: earlier tables stay put
    return tables_[used_++];
  }
  void Release() { used_ = 0; }

 private:
  std::deque<std::array<std::uint32_t, 256>> tables_;
  std::size_t used_ = 0;
};

// Prepares `fill` drawn through `to_canvas` with `cx`; kind None when it draws nothing.
void PreparePaint(const FillStyle& fill, const Matrix& to_canvas, const ColorTransform& cx,
                  const LinearTables& tables, LutPool& luts, Paint& paint);

// Writes the paint's premultiplied colours of pixels x .. x+n-1 of row y into out.
void PaintSpan(const Paint& p, int y, int x, int n, std::uint32_t* out);

// Walks the 256 entries of a gradient's table (stops not empty): entry(i, s0, s1, f) for each,
// its colour f (0..1) of the way from stop s0 to s1. Stops out of order are taken as Flash takes
// them: stop after stop, each segment writing only past the entries written so far, so one
// leading back adds nothing and the next one starts where the table stands.
template <typename Entry>
void ForEachGradientEntry(const std::vector<GradientStop>& stops, Entry&& entry) {
  int filled = std::min(int(stops.front().ratio), 255);
  for (int i = 0; i <= filled; ++i) entry(i, stops.front(), stops.front(), 0.0f);
  for (std::size_t k = 1; k < stops.size(); ++k) {
    const GradientStop& s0 = stops[k - 1];
    const GradientStop& s1 = stops[k];
    const int end = std::min(int(s1.ratio), 255);
    for (int i = filled + 1; i <= end; ++i) {
      // Here s0.ratio <= filled < i <= s1.ratio.
      entry(i, s0, s1, float(i - s0.ratio) / float(s1.ratio - s0.ratio));
    }
    filled = std::max(filled, end);
  }
  for (int i = filled + 1; i < 256; ++i) entry(i, stops.back(), stops.back(), 0.0f);
}

// The gradient's colour table under `cx`; sets the paint's lut and opacity.
void BuildLut(const Gradient& g, const ColorTransform& cx, const LinearTables& tables,
              std::array<std::uint32_t, 256>& lut, Paint& paint);
// Gradient and bitmap spans from the paint-space position (u0, v0) of the run's first pixel
// centre, stepping (du, dv) a pixel.
void GradientSpan(const Paint& p, float u0, float v0, float du, float dv, int n,
                  std::uint32_t* out);
void BitmapSpan(const Paint& p, float u0, float v0, float du, float dv, int n, std::uint32_t* out);

}  // namespace swf::render
