// The CPU rasterizer. Shapes are flattened in canvas space into line segments that carry a style
// and a winding direction: an edge adds +1 to the style on its left (fill0) and -1 to the style on
// its right (fill1), so each style's coverage comes from its own windings and an edge shared by
// two styles gives them complementary coverage (no seams). Coverage is exact area: each segment
// adds the signed area it leaves to its right into a row of cells, and a prefix sum over the row
// gives the winding-weighted coverage of every pixel (as in AGG, stb_truetype and font-rs), then
// the fill rule folds it. Rows are swept one at a time with an active segment list sorted by
// style. Where several styles share a pixel partly, their premultiplied colours are added in a
// row buffer before one src-over, which is what makes shared edges seamless.
#include "swf/render.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <deque>
#include <vector>

namespace swf {
namespace {

constexpr float kTolerance = 0.05f;  // curve and arc flattening, in pixels (half cairo's default)
constexpr float kCoordLimit = 4e6f;  // canvas coordinates are clamped to this
// Bounds on a hostile shape (a real one stays far below): the segments one fill or stroke pass
// keeps (28 MB), and the rows the segments of all its passes cross together (the sweep's work:
// about 0.2 s at most).
constexpr std::size_t kSegmentBudget = std::size_t(1) << 20;
constexpr double kRowBudget = 4e6;
constexpr std::size_t kStrokeChunk = 8192;  // vertices of one stroked path drawn at once

// ---- pixel arithmetic on premultiplied 0xAARRGGBB, rounded as pixman does ----

inline std::uint32_t Mul8(std::uint32_t a, std::uint32_t b) {
  const std::uint32_t t = a * b + 0x80;
  return (t + (t >> 8)) >> 8;
}

// Each channel of p times a/255.
inline std::uint32_t MulPixel(std::uint32_t p, std::uint32_t a) {
  std::uint32_t rb = (p & 0xff00ffu) * a + 0x800080u;
  rb = ((rb + ((rb >> 8) & 0xff00ffu)) >> 8) & 0xff00ffu;
  std::uint32_t ag = ((p >> 8) & 0xff00ffu) * a + 0x800080u;
  ag = (ag + ((ag >> 8) & 0xff00ffu)) & 0xff00ff00u;
  return rb | ag;
}

// Channel-wise saturating sum.
inline std::uint32_t AddPixel(std::uint32_t a, std::uint32_t b) {
  std::uint32_t rb = (a & 0xff00ffu) + (b & 0xff00ffu);
  rb |= 0x1000100u - ((rb >> 8) & 0x10001u);
  std::uint32_t ag = ((a >> 8) & 0xff00ffu) + ((b >> 8) & 0xff00ffu);
  ag |= 0x1000100u - ((ag >> 8) & 0x10001u);
  return (rb & 0xff00ffu) | ((ag & 0xff00ffu) << 8);
}

inline std::uint32_t Over(std::uint32_t src, std::uint32_t dst) {
  return AddPixel(src, MulPixel(dst, 255 - (src >> 24)));
}

inline std::uint32_t Premultiply(Rgba c) {
  return (std::uint32_t(c.a) << 24) | (Mul8(c.r, c.a) << 16) | (Mul8(c.g, c.a) << 8) |
         Mul8(c.b, c.a);
}

// Rounds a value known to be >= 0 and small: a half added, then truncated (std::lround would be
// a library call in the inner loops).
inline int Round(float v) {
  return int(v + 0.5f);  // NOLINT(bugprone-incorrect-roundings)
}

// ---- colour helpers for gradients ----

float SrgbToLinear(float c) {
  return c <= 0.04045f ? c / 12.92f : std::pow((c + 0.055f) / 1.055f, 2.4f);
}

struct LinearTables {
  std::array<float, 256> to_linear{};
  std::array<std::uint8_t, 4096> to_srgb{};
  LinearTables() {
    for (int i = 0; i < 256; ++i) to_linear[std::size_t(i)] = SrgbToLinear(float(i) / 255);
    for (int i = 0; i < 4096; ++i) {
      const float l = float(i) / 4095;
      const float s = l <= 0.0031308f ? l * 12.92f : 1.055f * std::pow(l, 1 / 2.4f) - 0.055f;
      to_srgb[std::size_t(i)] = std::uint8_t(Round(std::clamp(s, 0.0f, 1.0f) * 255));
    }
  }
};

// ---- paints ----

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

void BuildLut(const Gradient& g, const ColorTransform& cx, const LinearTables& tables,
              std::array<std::uint32_t, 256>& lut, Paint& paint) {
  const auto& stops = g.stops;
  const bool linear_rgb = g.interpolation == InterpolationMode::LinearRgb;
  std::uint32_t alpha_and = 0xff;
  std::size_t k = 0;
  for (int i = 0; i < 256; ++i) {
    while (k + 1 < stops.size() && stops[k + 1].ratio < i) ++k;
    Rgba c;
    if (i <= stops.front().ratio || k + 1 >= stops.size()) {
      c = i <= stops.front().ratio ? stops.front().color : stops.back().color;
    } else {
      const GradientStop& s0 = stops[k];
      const GradientStop& s1 = stops[k + 1];
      const float f =
          s1.ratio == s0.ratio ? 1.0f : float(i - s0.ratio) / float(s1.ratio - s0.ratio);
      const auto mix = [&](std::uint8_t a, std::uint8_t b) {
        if (!linear_rgb) return std::uint8_t(Round(float(a) + (float(b) - float(a)) * f));
        const float l = tables.to_linear[a] + (tables.to_linear[b] - tables.to_linear[a]) * f;
        return tables.to_srgb[std::size_t(Round(std::clamp(l, 0.0f, 1.0f) * 4095))];
      };
      c = {mix(s0.color.r, s1.color.r), mix(s0.color.g, s1.color.g), mix(s0.color.b, s1.color.b),
           std::uint8_t(Round(float(s0.color.a) + (float(s1.color.a) - float(s0.color.a)) * f))};
    }
    c = cx.Apply(c);
    alpha_and &= c.a;
    lut[std::size_t(i)] = Premultiply(c);
  }
  paint.opaque = alpha_and == 0xff;
  paint.lut = lut.data();
}

// Prepares `fill` drawn through `to_canvas` with `cx`; kind None when it draws nothing.
void PreparePaint(const FillStyle& fill, const Matrix& to_canvas, const ColorTransform& cx,
                  const LinearTables& tables, LutPool& luts, Paint& paint) {
  paint.kind = PaintKind::None;
  if (const auto* solid = std::get_if<Rgba>(&fill)) {
    const Rgba c = cx.Apply(*solid);
    paint.kind = PaintKind::Solid;
    paint.color = Premultiply(c);
    paint.opaque = c.a == 255;
  } else if (const auto* gradient = std::get_if<Gradient>(&fill)) {
    if (gradient->stops.empty()) return;
    const auto inverse = gradient->matrix.Then(to_canvas).Inverse();
    if (!inverse) return;
    constexpr float kScale = 1.0f / 16384;
    paint.inverse = inverse->Then(Matrix{kScale, 0, 0, kScale, 0, 0});
    paint.spread = gradient->spread;
    paint.focal =
        std::isfinite(gradient->focal_point) ? std::clamp(gradient->focal_point, -0.98f, 0.98f) : 0;
    paint.kind = gradient->kind == GradientKind::Linear   ? PaintKind::Linear
                 : gradient->kind == GradientKind::Radial ? PaintKind::Radial
                                                          : PaintKind::Focal;
    if (paint.kind == PaintKind::Focal && paint.focal == 0) paint.kind = PaintKind::Radial;
    BuildLut(*gradient, cx, tables, luts.Next(), paint);
  } else if (const auto* bitmap_fill = std::get_if<BitmapFill>(&fill)) {
    const Bitmap* bitmap = bitmap_fill->bitmap.get();
    if (bitmap == nullptr || bitmap->width < 1 || bitmap->height < 1 ||
        bitmap->pixels.size() < std::size_t(bitmap->width) * std::size_t(bitmap->height)) {
      return;
    }
    const auto inverse = bitmap_fill->matrix.Then(to_canvas).Inverse();
    if (!inverse) return;
    paint.kind = PaintKind::Bitmap;
    paint.inverse = *inverse;
    paint.bitmap = bitmap;
    paint.repeat = bitmap_fill->repeat;
    paint.smooth = bitmap_fill->smooth;
    paint.cx = cx;
    paint.cx_mode = cx.IsIdentity() ? 0
                    : (cx.add_r == 0 && cx.add_g == 0 && cx.add_b == 0 && cx.add_a == 0 &&
                       cx.mul_r <= 1 && cx.mul_g <= 1 && cx.mul_b <= 1 && cx.mul_a <= 1 &&
                       cx.mul_r >= 0 && cx.mul_g >= 0 && cx.mul_b >= 0 && cx.mul_a >= 0)
                        ? 1
                        : 2;
    paint.opaque = false;
  }
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
void GradientSpan(const Paint& p, int n, std::uint32_t* out, Position&& position) {
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
  Rgba c{0, 0, 0, std::uint8_t(a)};
  if (a != 0) {
    const auto un = [&](int shift) {
      return std::uint8_t(std::min<std::uint32_t>(255, (((p >> shift) & 0xff) * 255 + a / 2) / a));
    };
    c = {un(16), un(8), un(0), std::uint8_t(a)};
  }
  return Premultiply(cx.Apply(c));
}

inline std::uint32_t Lerp(std::uint32_t a, std::uint32_t b, std::uint32_t w) {  // w 0..256
  const std::uint32_t iw = 256 - w;
  const std::uint32_t rb = (((a & 0xff00ffu) * iw + (b & 0xff00ffu) * w) >> 8) & 0xff00ffu;
  const std::uint32_t ag = (((a >> 8) & 0xff00ffu) * iw + ((b >> 8) & 0xff00ffu) * w) & 0xff00ff00u;
  return rb | ag;
}

// Bitmap samples along a row, texel coordinates (u0 + i du, v0 + i dv) with texel centres at .5,
// stepped in 16.16 fixed point (a repeating bitmap wraps by one compare a pixel: the start and
// the step are reduced modulo its size first).
template <bool repeat, bool smooth>
void BitmapSpan(const Paint& p, double u0, double v0, double du, double dv, int n,
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

// Writes the paint's premultiplied colours of pixels x .. x+n-1 of row y into out.
void PaintSpan(const Paint& p, int y, int x, int n, std::uint32_t* out) {
  const Matrix& m = p.inverse;
  const float px = float(x) + 0.5f, py = float(y) + 0.5f;
  const float u0 = m.a * px + m.c * py + m.tx, v0 = m.b * px + m.d * py + m.ty;
  const float du = m.a, dv = m.b;
  // Past float's range along this row (a nearly singular paint matrix): nothing to sample.
  const float last = float(n);
  if (p.kind != PaintKind::Solid &&
      !(std::isfinite(u0 + du * last) && std::isfinite(v0 + dv * last) && std::isfinite(u0) &&
        std::isfinite(v0))) {
    std::fill(out, out + n, 0u);
    return;
  }
  switch (p.kind) {
    case PaintKind::Linear:
      GradientSpan(p, n, out, [&](int i) { return (u0 + du * float(i)) * 0.5f + 0.5f; });
      break;
    case PaintKind::Radial:
      GradientSpan(p, n, out, [&](int i) {
        const float u = u0 + du * float(i), v = v0 + dv * float(i);
        return std::sqrt(u * u + v * v);
      });
      break;
    case PaintKind::Focal: {
      // t where the point lies on the circle through the focus scaled by t: solves
      // (f^2 - 1) t^2 - 2 b t + |d|^2 = 0 with d = point - focus, b = -f d.x.
      const float f = p.focal, inverse_a = 1 / (f * f - 1), a = f * f - 1;
      GradientSpan(p, n, out, [&](int i) {
        const float dx = u0 + du * float(i) - f, dy = v0 + dv * float(i);
        const float b = -f * dx, c = dx * dx + dy * dy;
        return (b - std::sqrt(std::max(0.0f, b * b - a * c))) * inverse_a;
      });
      break;
    }
    case PaintKind::Bitmap:
      if (p.repeat) {
        (p.smooth ? BitmapSpan<true, true> : BitmapSpan<true, false>)(p, u0, v0, du, dv, n, out);
      } else {
        (p.smooth ? BitmapSpan<false, true> : BitmapSpan<false, false>)(p, u0, v0, du, dv, n, out);
      }
      break;
    default:
      std::fill(out, out + n, p.color);
      break;
  }
}

// ---- scan conversion ----

// How many chords keep a quadratic curve within the tolerance: its distance from the chords of n
// equal steps is |a - 2c + b| / (8 n^2). At least 1, at most `most` (and 1 for non-finite ends).
int CurveSegments(Point a, Point c, Point b, int most) {
  const float ddx = a.x - 2 * c.x + b.x, ddy = a.y - 2 * c.y + b.y;
  const float n = std::ceil(std::sqrt(std::sqrt(ddx * ddx + ddy * ddy) / (8 * kTolerance)));
  return n >= 1 ? int(std::min(n, float(most))) : 1;  // NaN compares false
}

struct Segment {
  float x0, y0, x1, y1;  // y0 < y1
  float dxdy;
  float dir;  // +1 or -1: the winding it adds to the right of it
  std::uint32_t style;
};

class Rasterizer {
 public:
  void Reset(int width, int height) {
    width_ = width;
    height_ = height;
    segments_.clear();
    if (cells_.size() < std::size_t(width) + 3) cells_.assign(std::size_t(width) + 3, 0.0f);
    if (coverage_.size() < std::size_t(width) + 1) coverage_.resize(std::size_t(width) + 1);
  }
  [[nodiscard]] bool Empty() const { return segments_.empty(); }
  // Starts a shape's budget of rows crossed (see kRowBudget).
  void NewShape() { rows_ = 0; }
  [[nodiscard]] bool Spent() const { return rows_ > kRowBudget; }

  void Line(Point a, Point b, std::uint32_t style, float dir) {
    if (!(std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(b.x) && std::isfinite(b.y))) {
      return;
    }
    a = {std::clamp(a.x, -kCoordLimit, kCoordLimit), std::clamp(a.y, -kCoordLimit, kCoordLimit)};
    b = {std::clamp(b.x, -kCoordLimit, kCoordLimit), std::clamp(b.y, -kCoordLimit, kCoordLimit)};
    if (a.y == b.y) return;
    if (a.y > b.y) {
      std::swap(a, b);
      dir = -dir;
    }
    // Above or below the canvas: no effect. Right of it, the segment is kept: it tells the sweep
    // to go on to the row's end.
    if (b.y <= 0 || a.y >= float(height_)) return;
    rows_ += double(std::min(b.y, float(height_)) - std::max(a.y, 0.0f)) + 1;
    if (segments_.size() >= kSegmentBudget || Spent()) return;
    segments_.push_back({a.x, a.y, b.x, b.y, (b.x - a.x) / (b.y - a.y), dir, style});
  }

  void Quad(Point a, Point c, Point b, std::uint32_t style, float dir) {
    const float min_y = std::min({a.y, b.y, c.y}), max_y = std::max({a.y, b.y, c.y});
    const float min_x = std::min({a.x, b.x, c.x}), max_x = std::max({a.x, b.x, c.x});
    // Wholly above, below, right or left of the canvas: only its ends matter.
    const bool outside =
        max_y <= 0 || min_y >= float(height_) || min_x >= float(width_) || max_x <= 0;
    const int n = outside ? 1 : CurveSegments(a, c, b, 256);
    Point prev = a;
    for (int i = 1; i <= n && !Spent(); ++i) {
      const float t = float(i) / float(n), s = 1 - t;
      const Point p = i == n ? b
                             : Point{s * s * a.x + 2 * s * t * c.x + t * t * b.x,
                                     s * s * a.y + 2 * s * t * c.y + t * t * b.y};
      Line(prev, p, style, dir);
      prev = p;
    }
  }

  // Sweeps the rows top to bottom. For each row: begin(y) once, then emit(style, y, runs, count,
  // coverage) for each style with coverage there, then end(y). A run is a span of pixels with
  // one coverage (0..255), or with coverage[x] each (value < 0) where edges cross it. Rows
  // outside [row_min, row_max) are skipped.
  template <typename Begin, typename Emit, typename End>
  void Sweep(bool even_odd, int row_min, int row_max, Begin&& begin, Emit&& emit, End&& end) {
    std::sort(segments_.begin(), segments_.end(),
              [](const Segment& l, const Segment& r) { return l.y0 < r.y0; });
    active_.clear();
    std::size_t next = 0;
    const std::size_t count = segments_.size();
    row_min = std::max(row_min, 0);
    row_max = std::min(row_max, height_);
    for (int y = row_min; y < row_max; ++y) {
      const float top = float(y), bottom = float(y + 1);
      if (active_.empty()) {
        if (next == count) break;
        if (segments_[next].y0 >= bottom) {
          y = std::max(y, int(segments_[next].y0)) - 1;  // on to the next segment's row
          continue;
        }
      }
      while (next < count && segments_[next].y0 < bottom) {
        if (segments_[next].y1 > top) active_.push_back(std::uint32_t(next));
        ++next;
      }
      std::size_t kept = 0;
      for (std::uint32_t i : active_) {
        if (segments_[i].y1 > top) active_[kept++] = i;
      }
      active_.resize(kept);
      if (active_.empty()) continue;
      // Insertion sort by style: the order changes little from one row to the next.
      for (std::size_t i = 1; i < active_.size(); ++i) {
        const std::uint32_t v = active_[i];
        const std::uint32_t s = segments_[v].style;
        std::size_t j = i;
        while (j > 0 && segments_[active_[j - 1]].style > s) {
          active_[j] = active_[j - 1];
          --j;
        }
        active_[j] = v;
      }
      begin(y);
      std::size_t g = 0;
      while (g < active_.size()) {
        const std::uint32_t style = segments_[active_[g]].style;
        touched_.clear();
        std::size_t e = g;
        for (; e < active_.size() && segments_[active_[e]].style == style; ++e) {
          AddToRow(segments_[active_[e]], top, bottom);
        }
        g = e;
        if (SweepRow(even_odd)) emit(style, y, runs_.data(), runs_.size(), coverage_.data());
      }
      end(y);
    }
  }

  struct Run {
    int x0, x1;
    int value;  // the coverage of the whole run, or -1: coverage[x] each
  };

 private:
  // Folds a winding-weighted area into 0..255 by the fill rule.
  static int Rule(float sum, bool even_odd) {
    float c = std::fabs(sum);
    if (even_odd) {
      c -= 2 * float(int(c * 0.5f));
      if (c > 1) c = 2 - c;
    }
    return Round(std::min(c, 1.0f) * 255);
  }

  // Turns the row's cells into runs: the touched cells one by one, the spans between them whole.
  // Clears the cells. False when nothing is covered.
  bool SweepRow(bool even_odd) {
    runs_.clear();
    if (touched_.empty()) return false;
    std::sort(touched_.begin(), touched_.end(),
              [](const std::pair<int, int>& l, const std::pair<int, int>& r) {
                return l.first < r.first;
              });
    float* cells = cells_.data();
    std::uint8_t* cov = coverage_.data();
    float sum = 0;
    int x = touched_.front().first;
    std::size_t i = 0;
    while (i < touched_.size()) {
      const int a = touched_[i].first;
      int b = touched_[i].second;
      for (++i; i < touched_.size() && touched_[i].first <= b; ++i) {
        b = std::max(b, touched_[i].second);
      }
      if (x < a) {
        const int c = Rule(sum, even_odd);
        if (c != 0) runs_.push_back({x, a, c});
      }
      const int visible = std::min(b, width_);
      bool any = false;
      for (int k = a; k < visible; ++k) {
        sum += cells[k];
        cells[k] = 0;
        const int c = Rule(sum, even_odd);
        cov[k] = std::uint8_t(c);
        any |= c != 0;
      }
      for (int k = std::max(a, visible); k < b; ++k) {
        sum += cells[k];
        cells[k] = 0;
      }
      if (any) runs_.push_back({a, visible, -1});
      x = std::max(x, b);
    }
    if (x < width_) {  // past the last edge: what lies right of the canvas leaves a sum
      const int c = Rule(sum, even_odd);
      if (c != 0) runs_.push_back({x, width_, c});
    }
    return !runs_.empty();
  }

  // Adds the part of `s` within the row [top, bottom) to the cells.
  void AddToRow(const Segment& s, float top, float bottom) {
    const float ya = std::max(s.y0, top), yb = std::min(s.y1, bottom);
    if (yb <= ya) return;
    float xa = s.x0 + (ya - s.y0) * s.dxdy;
    float xb = s.x0 + (yb - s.y0) * s.dxdy;
    if (s.y0 >= top) xa = s.x0;
    if (s.y1 <= bottom) xb = s.x1;
    float d = (yb - ya) * s.dir;
    if (xa > xb) std::swap(xa, xb);
    const float w = float(width_);
    if (xa >= w) return;  // changes no pixel (the sweep goes on to the row's end)
    if (xb <= 0) {        // wholly left of the canvas: covers every pixel of the row to its right
      cells_[0] += d;
      touched_.emplace_back(0, 1);
      return;
    }
    if (xa < 0) {  // the part left of the canvas goes into the first cell whole
      const float left = d * (-xa) / (xb - xa);
      cells_[0] += left;
      d -= left;
      xa = 0;
    }
    if (xb > w) {
      d *= (w - xa) / (xb - xa);
      xb = w;
    }
    const int i0 = int(xa), i1 = std::min(int(xb), width_);
    touched_.emplace_back(i0, i1 + 2);
    float* cells = cells_.data();
    if (i0 == i1 || xb - xa < 1e-6f) {
      const float m = (xa + xb) * 0.5f - float(i0);
      cells[i0] += d * (1 - m);
      cells[i0 + 1] += d * m;
      return;
    }
    const float slope = d / (xb - xa);
    // First partial cell.
    float part = float(i0 + 1) - xa;
    float dd = slope * part;
    float m = 1 - part * 0.5f;  // the mean x of the piece in the cell
    cells[i0] += dd * (1 - m);
    cells[i0 + 1] += dd * m;
    // Whole cells: half of each one's share stays, half goes on.
    if (i1 > i0 + 1) {
      cells[i0 + 1] += slope * 0.5f;
      for (int i = i0 + 2; i < i1; ++i) cells[i] += slope;
      cells[i1] += slope * 0.5f;
    }
    // Last partial cell.
    part = xb - float(i1);
    if (part > 0) {
      dd = slope * part;
      m = part * 0.5f;
      cells[i1] += dd * (1 - m);
      cells[i1 + 1] += dd * m;
    }
  }

  int width_ = 0;
  int height_ = 0;
  std::vector<Segment> segments_;
  double rows_ = 0;  // rows the segments cross, all together
  std::vector<std::uint32_t> active_;
  std::vector<float> cells_;
  std::vector<std::uint8_t> coverage_;
  std::vector<std::pair<int, int>> touched_;  // cell ranges [first, second) edges touched
  std::vector<Run> runs_;
};

// ---- strokes ----

Point Add(Point a, Point b) {
  return {a.x + b.x, a.y + b.y};
}
Point Sub(Point a, Point b) {
  return {a.x - b.x, a.y - b.y};
}
Point Scale(Point a, float s) {
  return {a.x * s, a.y * s};
}
float Dot(Point a, Point b) {
  return a.x * b.x + a.y * b.y;
}
float Cross(Point a, Point b) {
  return a.x * b.y - a.y * b.x;
}
Point Normal(Point d) {
  return {-d.y, d.x};
}

// Builds the outline of a stroked polyline as closed polygons, filled non-zero: the left side
// forwards, the end cap, the right side backwards, the start cap (two loops for a closed path).
// On the inner side of a turn the outline goes to the point where the two offset lines meet, so
// the outline doesn't overlap itself there (an overlap would count twice in the area sums).
class Stroker {
 public:
  struct Style {
    float radius = 0.5f;
    CapStyle start_cap = CapStyle::Round;
    CapStyle end_cap = CapStyle::Round;
    JoinStyle join = JoinStyle::Round;
    float miter_limit = 3;
    // The directions the path leaves its first point and reaches its last (a curve's tangents),
    // for the caps; zero: its first and last chords'.
    Point start_dir;
    Point end_dir;
  };

  // `points` with `smooth[i]` true where a vertex lies inside a flattened curve (bevelled there).
  void Stroke(const std::vector<Point>& points, const std::vector<bool>& smooth, bool closed,
              const Style& style, Rasterizer& out) {
    style_ = style;
    pts_.clear();
    smooth_.clear();
    for (std::size_t i = 0; i < points.size(); ++i) {
      // Non-finite points are left out; the rest are kept where float arithmetic stays exact
      // enough (the offsets below are computed from them).
      if (!std::isfinite(points[i].x) || !std::isfinite(points[i].y)) continue;
      const Point p{std::clamp(points[i].x, -kCoordLimit, kCoordLimit),
                    std::clamp(points[i].y, -kCoordLimit, kCoordLimit)};
      if (!pts_.empty() && p.x == pts_.back().x && p.y == pts_.back().y) continue;
      pts_.push_back(p);
      smooth_.push_back(smooth[i]);
    }
    if (closed && pts_.size() > 2 && pts_.front().x == pts_.back().x &&
        pts_.front().y == pts_.back().y) {
      pts_.pop_back();
      smooth_.pop_back();
    } else {
      closed = false;
    }
    const float r = style.radius;
    const std::size_t n = pts_.size();
    if (n == 0) return;
    left_.clear();
    if (n == 1) {  // a dot: its caps alone
      const Point p = pts_[0];
      if (style.start_cap == CapStyle::Round) {
        Arc(left_, p, {r, 0}, {-r, 0}, {0, 1});
        left_.push_back({p.x - r, p.y});
        Arc(left_, p, {-r, 0}, {r, 0}, {0, -1});
        left_.push_back({p.x + r, p.y});
      } else if (style.start_cap == CapStyle::Square) {
        left_ = {{p.x - r, p.y - r}, {p.x + r, p.y - r}, {p.x + r, p.y + r}, {p.x - r, p.y + r}};
      }
      Emit(left_, out);
      return;
    }
    dirs_.resize(n);
    lens_.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
      const Point d = Sub(pts_[(i + 1) % n], pts_[i]);
      const float len = std::sqrt(Dot(d, d));
      dirs_[i] = len > 0 ? Scale(d, 1 / len) : Point{1, 0};
      lens_[i] = len;
    }
    right_.clear();
    if (closed) {
      for (std::size_t i = 0; i < n; ++i) {
        Join(left_, i, (i + n - 1) % n, i, 1);
        Join(right_, i, (i + n - 1) % n, i, -1);
      }
      std::reverse(right_.begin(), right_.end());
      Emit(left_, out);
      Emit(right_, out);
      return;
    }
    const std::size_t last = n - 2;  // the last segment
    const auto unit = [](Point d, Point otherwise) {
      const float len = std::sqrt(Dot(d, d));
      return len > 1e-3f && std::isfinite(len) ? Scale(d, 1 / len) : otherwise;
    };
    const Point start_dir = unit(style.start_dir, dirs_[0]);
    const Point end_dir = unit(style.end_dir, dirs_[last]);
    const Point n0 = Scale(Normal(start_dir), r), n_last = Scale(Normal(end_dir), r);
    left_.push_back(Add(pts_[0], n0));
    right_.push_back(Sub(pts_[0], n0));
    for (std::size_t i = 1; i + 1 < n; ++i) {
      Join(left_, i, i - 1, i, 1);
      Join(right_, i, i - 1, i, -1);
    }
    left_.push_back(Add(pts_[n - 1], n_last));
    right_.push_back(Sub(pts_[n - 1], n_last));
    Cap(left_, pts_[n - 1], end_dir, style.end_cap);
    left_.insert(left_.end(), right_.rbegin(), right_.rend());
    Cap(left_, pts_[0], Scale(start_dir, -1), style.start_cap);
    Emit(left_, out);
  }

 private:
  // The outline's points at vertex v between segments `in` and `out` on one side (+1 left).
  void Join(std::vector<Point>& poly, std::size_t v, std::size_t in, std::size_t out,
            float side) const {
    const float r = style_.radius;
    const Point p = pts_[v];
    const Point d0 = dirs_[in], d1 = dirs_[out];
    const Point n0 = Scale(Normal(d0), side * r), n1 = Scale(Normal(d1), side * r);
    const Point a = Add(p, n0), b = Add(p, n1);
    const float cross = Cross(d0, d1) * side;
    const float cos_turn = Dot(d0, d1);
    if (std::fabs(cross) < 1e-6f && cos_turn > 0) {  // straight on
      poly.push_back(a);
      return;
    }
    // The offset lines meet at p + (n0 + n1) / (1 + cos(turn)).
    const float k = 1 + cos_turn;
    if (cross > 0) {  // the inner side
      const float back = k > 1e-4f ? r * std::sqrt(std::max(0.0f, (1 - cos_turn) / k)) : 1e30f;
      if (back <= std::min(lens_[in], lens_[out])) {
        poly.push_back(Add(p, Scale(Add(n0, n1), 1 / k)));
      } else {  // too short a segment for the meeting point: round the vertex itself
        poly.push_back(a);
        poly.push_back(p);
        poly.push_back(b);
      }
      return;
    }
    const JoinStyle join = smooth_[v] ? JoinStyle::Bevel : style_.join;
    poly.push_back(a);
    if (join == JoinStyle::Round) {
      Arc(poly, p, n0, n1, d0);
    } else if (join == JoinStyle::Miter) {
      const float limit = std::max(style_.miter_limit, 1.0f) * r;
      const float tip = k > 1e-6f ? r * std::sqrt(2 / k) : 1e30f;
      if (tip <= limit) {
        poly.push_back(Add(p, Scale(Add(n0, n1), 1 / k)));
      } else {  // Flash cuts the miter off at the limit, across the bisector
        Point m = Add(n0, n1);
        const float ml = std::sqrt(Dot(m, m));
        m = ml > 1e-4f * r ? Scale(m, 1 / ml) : d0;
        const float along = Dot(d0, m);
        const float t = along > 1e-6f ? (limit - Dot(n0, m)) / along : limit;
        poly.push_back(Add(a, Scale(d0, t)));
        poly.push_back(Sub(b, Scale(d1, t)));
      }
    }
    poly.push_back(b);
  }

  // From the left end (p + normal) round to the right end (p - normal), ends excluded.
  void Cap(std::vector<Point>& poly, Point p, Point d, CapStyle cap) const {
    const float r = style_.radius;
    const Point n = Scale(Normal(d), r);
    if (cap == CapStyle::Square) {
      poly.push_back(Add(Add(p, n), Scale(d, r)));
      poly.push_back(Add(Sub(p, n), Scale(d, r)));
    } else if (cap == CapStyle::Round) {
      Arc(poly, p, n, Scale(n, -1), d);
    }
  }

  // The points strictly between offsets `from` and `to` on the circle around c, the shorter way
  // round, or through the direction `via` when they are opposite.
  void Arc(std::vector<Point>& poly, Point c, Point from, Point to, Point via) const {
    const float r = style_.radius;
    const float a0 = std::atan2(from.y, from.x);
    float sweep = std::atan2(Cross(from, to), Dot(from, to));
    constexpr float kPi = 3.14159265f;
    if (std::fabs(std::fabs(sweep) - kPi) < 1e-3f) sweep = Cross(from, via) > 0 ? kPi : -kPi;
    const float step = r > kTolerance ? 2 * std::acos(1 - kTolerance / r) : 1.0f;
    const int n = int(std::clamp(std::ceil(std::fabs(sweep) / step), 1.0f, 256.0f));
    for (int i = 1; i < n; ++i) {
      const float a = a0 + sweep * float(i) / float(n);
      poly.push_back({c.x + r * std::cos(a), c.y + r * std::sin(a)});
    }
  }

  static void Emit(const std::vector<Point>& poly, Rasterizer& out) {
    for (std::size_t i = 0; i < poly.size(); ++i) {
      out.Line(poly[i], poly[(i + 1) % poly.size()], 0, 1);
    }
  }

  Style style_;
  std::vector<Point> pts_;
  std::vector<bool> smooth_;
  std::vector<Point> dirs_;
  std::vector<float> lens_;
  std::vector<Point> left_;
  std::vector<Point> right_;
};

bool Finite(const Matrix& m) {
  return std::isfinite(m.a) && std::isfinite(m.b) && std::isfinite(m.c) && std::isfinite(m.d) &&
         std::isfinite(m.tx) && std::isfinite(m.ty);
}

}  // namespace

Matrix ShowAllMatrix(const Rect& stage, int width, int height) {
  const double stage_w = double(stage.x_max) - stage.x_min;
  const double stage_h = double(stage.y_max) - stage.y_min;
  if (!(stage_w > 0) || !(stage_h > 0) || width <= 0 || height <= 0) {
    return Matrix{0.05f, 0, 0, 0.05f, 0, 0};
  }
  const double scale = std::min(width / stage_w, height / stage_h);
  const double tx = (width - stage_w * scale) / 2 - stage.x_min * scale;
  const double ty = (height - stage_h * scale) / 2 - stage.y_min * scale;
  return Matrix{float(scale), 0, 0, float(scale), float(tx), float(ty)};
}

// A mask: 8-bit coverage over the canvas, with the box outside which it is 0.
struct MaskLayer {
  std::vector<std::uint8_t> coverage;
  int width = 0, height = 0;
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // the box of non-zero coverage
  bool building = true;
};

struct Renderer::State {
  FramePixels canvas;
  LinearTables linear;
  Rasterizer raster;
  Stroker stroker;
  std::vector<Paint> paints;
  std::vector<std::uint32_t> span;  // one row of paint
  std::vector<std::uint32_t> mix;   // one row of colours added up where styles share pixels
  std::vector<MaskLayer> masks;     // the stack; layers past `mask_count` are kept for reuse
  std::size_t mask_count = 0;
  std::vector<Point> points;
  std::vector<bool> smooth;
  std::vector<std::uint32_t> used;  // the fill styles whose paints the pass prepared
  Paint stroke_paint;
  LutPool luts;

  [[nodiscard]] bool Ready() const {
    return canvas.pixels != nullptr && canvas.width > 0 && canvas.height > 0 &&
           canvas.stride >= canvas.width;
  }
  MaskLayer* Target() {
    return mask_count > 0 && masks[mask_count - 1].building ? &masks[mask_count - 1] : nullptr;
  }
  // The active mask that clips what is drawn now, if any.
  const MaskLayer* Clip() const {
    return mask_count > 0 && !masks[mask_count - 1].building ? &masks[mask_count - 1] : nullptr;
  }
  void Fill(bool even_odd, const Paint* paint_of, int box_x0, int box_x1, int box_y0, int box_y1,
            MaskLayer* target);
  void DrawLayer(const Shape& shape, std::size_t begin, std::size_t end, const Matrix& to_canvas,
                 const ColorTransform& cx);
};

// Sweeps the rasterizer's segments onto the canvas, style n painted with paint_of[n], or into the
// mask being built (`target`).
void Renderer::State::Fill(bool even_odd, const Paint* paint_of, int box_x0, int box_x1, int box_y0,
                           int box_y1, MaskLayer* target) {
  const int width = canvas.width;
  const MaskLayer* clip = target ? nullptr : Clip();
  if (clip != nullptr) {
    box_x0 = std::max(box_x0, clip->x0);
    box_x1 = std::min(box_x1, clip->x1);
    box_y0 = std::max(box_y0, clip->y0);
    box_y1 = std::min(box_y1, clip->y1);
  }
  if (box_x0 >= box_x1 || box_y0 >= box_y1) return;
  if (span.size() < std::size_t(width)) span.resize(std::size_t(width));
  if (mix.size() < std::size_t(width)) mix.assign(std::size_t(width), 0);
  int partial_min = width, partial_max = 0;
  std::uint32_t* row = nullptr;
  const std::uint8_t* clip_row = nullptr;

  const auto begin = [&](int y) {
    row = canvas.pixels + std::ptrdiff_t(y) * canvas.stride;
    clip_row = clip ? clip->coverage.data() + std::ptrdiff_t(y) * width : nullptr;
  };
  // Pixels a style covers whole are drawn at once (stored where the paint is opaque); pixels it
  // covers in part are added up with the other styles' parts in `mix`, drawn at the row's end.
  const auto draw_run = [&](const Paint& paint, int y, int x0, int x1, int value,
                            std::uint8_t* cov) {
    const bool solid = paint.kind == PaintKind::Solid;
    if (value == 255) {
      if (paint.opaque && solid) {
        std::fill(row + x0, row + x1, paint.color);
      } else if (paint.opaque) {
        PaintSpan(paint, y, x0, x1 - x0, row + x0);
      } else {
        if (!solid) PaintSpan(paint, y, x0, x1 - x0, span.data() + x0);
        for (int i = x0; i < x1; ++i) {  // a bitmap's opaque texels stored as they are
          const std::uint32_t src = solid ? paint.color : span[std::size_t(i)];
          row[i] = src >= 0xff000000u ? src : Over(src, row[i]);
        }
      }
      return;
    }
    if (value > 0) std::fill(cov + x0, cov + x1, std::uint8_t(value));
    if (!solid) PaintSpan(paint, y, x0, x1 - x0, span.data() + x0);
    partial_min = std::min(partial_min, x0);
    partial_max = std::max(partial_max, x1);
    for (int i = x0; i < x1; ++i) {
      const std::uint32_t c = cov[i];
      if (c == 0) continue;
      const std::uint32_t src = solid ? paint.color : span[std::size_t(i)];
      if (c == 255) {
        row[i] = paint.opaque ? src : Over(src, row[i]);
      } else {
        mix[std::size_t(i)] = AddPixel(mix[std::size_t(i)], MulPixel(src, c));
      }
    }
  };
  const auto emit = [&](std::uint32_t style, int y, const Rasterizer::Run* runs, std::size_t count,
                        std::uint8_t* cov) {
    const Paint* paint = target != nullptr ? nullptr : &paint_of[style];
    if (paint != nullptr && (paint->kind == PaintKind::None || paint->kind == PaintKind::Nothing)) {
      return;
    }
    for (std::size_t r = 0; r < count; ++r) {
      const int x0 = std::max(runs[r].x0, box_x0), x1 = std::min(runs[r].x1, box_x1);
      int value = runs[r].value;
      if (x0 >= x1) continue;
      if (target != nullptr) {  // union into the mask being built
        std::uint8_t* m = target->coverage.data() + std::ptrdiff_t(y) * width;
        for (int x = x0; x < x1; ++x) {
          const std::uint32_t c = value >= 0 ? std::uint32_t(value) : cov[x];
          if (c != 0) m[x] = std::uint8_t(c + Mul8(m[x], 255 - c));
        }
        target->x0 = std::min(target->x0, x0);
        target->x1 = std::max(target->x1, x1);
        target->y0 = std::min(target->y0, y);
        target->y1 = std::max(target->y1, y + 1);
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
      const std::uint32_t s = mix[std::size_t(x)];
      if (s == 0) continue;
      mix[std::size_t(x)] = 0;
      row[x] = (s >> 24) == 255 ? s : Over(s, row[x]);
    }
    partial_min = width;
    partial_max = 0;
  };
  raster.Sweep(even_odd, box_y0, box_y1, begin, emit, end);
}

Renderer::Renderer() : state_(std::make_unique<State>()) {}
Renderer::~Renderer() = default;

void Renderer::BeginFrame(const FramePixels& canvas, Rgba background) {
  State& s = *state_;
  s.canvas = canvas;
  s.mask_count = 0;
  if (!s.Ready()) return;
  const std::uint32_t pixel = 0xff000000u | (std::uint32_t(background.r) << 16) |
                              (std::uint32_t(background.g) << 8) | background.b;
  for (int y = 0; y < canvas.height; ++y) {
    std::uint32_t* row = canvas.pixels + std::ptrdiff_t(y) * canvas.stride;
    std::fill(row, row + canvas.width, pixel);
  }
}

void Renderer::DrawShape(const Shape& shape, const Matrix& to_canvas, const ColorTransform& cx) {
  State& s = *state_;
  if (!s.Ready() || !Finite(to_canvas)) return;
  s.raster.NewShape();
  std::size_t begin = 0;
  for (const std::size_t start : shape.layer_starts) {
    const std::size_t end = std::clamp(start, begin, shape.edges.size());
    s.DrawLayer(shape, begin, end, to_canvas, cx);
    begin = end;
  }
  s.DrawLayer(shape, begin, shape.edges.size(), to_canvas, cx);
}

// One style layer: the edges [begin, end) of `shape`, its fills, then its lines.
void Renderer::State::DrawLayer(const Shape& shape, std::size_t begin, std::size_t end,
                                const Matrix& to_canvas, const ColorTransform& cx) {
  State& s = *this;
  if (begin >= end) return;
  MaskLayer* target = s.Target();
  const int width = s.canvas.width, height = s.canvas.height;
  const auto apply = [&](Point p) { return to_canvas.Apply(p); };

  // Fills: all styles in one pass. A mask counts coverage only: every fill is one style there,
  // so edges between two fills cancel out.
  s.raster.Reset(width, height);
  s.luts.Release();
  for (const std::uint32_t id : used) paints[id].kind = PaintKind::None;
  used.clear();
  if (paints.size() < shape.fills.size() + 1) paints.resize(shape.fills.size() + 1);
  const auto fill_id = [&](std::uint16_t f) -> std::uint32_t {
    if (f == 0 || f > shape.fills.size()) return 0;
    return target ? 1 : f;
  };
  for (std::size_t k = begin; k < end; ++k) {
    const Edge& e = shape.edges[k];
    const std::uint32_t left = fill_id(e.fill0), right = fill_id(e.fill1);
    if (left == right) continue;
    const Point a = apply(e.from), b = apply(e.to);
    for (const auto& [id, dir] : {std::pair{left, 1.0f}, std::pair{right, -1.0f}}) {
      if (id == 0) continue;
      if (e.curved) {
        s.raster.Quad(a, apply(e.control), b, id, dir);
      } else {
        s.raster.Line(a, b, id, dir);
      }
      if (target == nullptr && paints[id].kind == PaintKind::None) {
        used.push_back(id);
        PreparePaint(shape.fills[id - 1], to_canvas, cx, s.linear, s.luts, s.paints[id]);
        if (paints[id].kind == PaintKind::None) paints[id].kind = PaintKind::Nothing;
      }
    }
  }
  if (!s.raster.Empty()) s.Fill(shape.even_odd, s.paints.data(), 0, width, 0, height, target);

  // Lines: each path of one style, in the order of the edges.
  const float scale = std::sqrt(std::fabs(to_canvas.a * to_canvas.d - to_canvas.b * to_canvas.c));
  std::size_t i = begin;
  const std::size_t count = end;
  while (i < count && !s.raster.Spent()) {
    const std::uint16_t line = shape.edges[i].line;
    if (line == 0 || line > shape.lines.size()) {
      ++i;
      continue;
    }
    const LineStyle& style = shape.lines[line - 1];
    Stroker::Style st;
    s.points.clear();
    s.smooth.clear();
    s.points.push_back(apply(shape.edges[i].from));
    s.smooth.push_back(false);
    Point last = shape.edges[i].from;
    const Point start = last;
    std::size_t j = i;
    for (; j < count && s.points.size() < kStrokeChunk; ++j) {
      const Edge& e = shape.edges[j];
      if (e.line != line || (j > i && (e.from.x != last.x || e.from.y != last.y))) break;
      const Point a = apply(e.from), b = apply(e.to);
      if (e.curved) {
        const Point c = apply(e.control);
        const int n = CurveSegments(a, c, b, 64);
        // Caps face the way the curve does at its ends, not its chords.
        if (j == i) st.start_dir = Sub(c, a);
        st.end_dir = Sub(b, c);
        for (int k = 1; k <= n; ++k) {
          const float t = float(k) / float(n), u = 1 - t;
          s.points.push_back(k == n ? b
                                    : Point{u * u * a.x + 2 * u * t * c.x + t * t * b.x,
                                            u * u * a.y + 2 * u * t * c.y + t * t * b.y});
          s.smooth.push_back(k < n);
        }
      } else {
        st.end_dir = {};
        s.points.push_back(b);
        s.smooth.push_back(false);
      }
      last = e.to;
    }
    i = j;
    const bool closed = !style.no_close && last.x == start.x && last.y == start.y;
    st.radius = std::max(1.0f, std::isfinite(scale) ? style.width * scale : 1.0f) * 0.5f;
    if (!std::isfinite(st.radius) || st.radius > kCoordLimit) continue;
    st.start_cap = style.start_cap;
    st.end_cap = style.end_cap;
    st.join = style.join;
    st.miter_limit = style.miter_limit;
    s.raster.Reset(width, height);
    s.stroker.Stroke(s.points, s.smooth, closed, st, s.raster);
    if (s.raster.Empty()) continue;
    if (target == nullptr) {
      s.luts.Release();
      PreparePaint(style.fill, to_canvas, cx, s.linear, s.luts, s.stroke_paint);
    }
    s.Fill(false, &s.stroke_paint, 0, width, 0, height, target);
  }
}

void Renderer::BeginMask() {
  State& s = *state_;
  if (!s.Ready()) {
    ++s.mask_count;
    if (s.masks.size() < s.mask_count) s.masks.resize(s.mask_count);
    s.masks[s.mask_count - 1].building = true;
    return;
  }
  if (s.masks.size() <= s.mask_count) s.masks.emplace_back();
  MaskLayer& m = s.masks[s.mask_count++];
  const std::size_t size = std::size_t(s.canvas.width) * std::size_t(s.canvas.height);
  if (m.width != s.canvas.width || m.height != s.canvas.height) {
    m.coverage.assign(size, 0);
    m.width = s.canvas.width;
    m.height = s.canvas.height;
  } else if (m.x0 < m.x1) {
    for (int y = m.y0; y < m.y1; ++y) {
      std::uint8_t* row = m.coverage.data() + std::ptrdiff_t(y) * s.canvas.width;
      std::fill(row + m.x0, row + m.x1, std::uint8_t(0));
    }
  }
  m.x0 = s.canvas.width;
  m.y0 = s.canvas.height;
  m.x1 = m.y1 = 0;
  m.building = true;
}

void Renderer::EndMask() {
  State& s = *state_;
  if (s.mask_count == 0 || !s.masks[s.mask_count - 1].building) return;
  MaskLayer& m = s.masks[s.mask_count - 1];
  m.building = false;
  if (!s.Ready()) return;
  // Intersect with the mask active below it, if any.
  --s.mask_count;
  const MaskLayer* below = s.Clip();
  ++s.mask_count;
  if (below == nullptr) return;
  const int width = s.canvas.width;
  for (int y = m.y0; y < m.y1; ++y) {
    std::uint8_t* row = m.coverage.data() + std::ptrdiff_t(y) * width;
    const std::uint8_t* other = below->coverage.data() + std::ptrdiff_t(y) * width;
    for (int x = m.x0; x < m.x1; ++x) row[x] = std::uint8_t(Mul8(row[x], other[x]));
  }
  // The box shrinks to the common part; the cleared-on-reuse box stays the whole one.
  if (below->x0 > m.x0 || below->x1 < m.x1 || below->y0 > m.y0 || below->y1 < m.y1) {
    const int x0 = std::max(m.x0, below->x0), x1 = std::min(m.x1, below->x1);
    const int y0 = std::max(m.y0, below->y0), y1 = std::min(m.y1, below->y1);
    // Zero what lies outside the common box so the smaller box tells the truth.
    for (int y = m.y0; y < m.y1; ++y) {
      std::uint8_t* row = m.coverage.data() + std::ptrdiff_t(y) * width;
      if (y < y0 || y >= y1) {
        std::fill(row + m.x0, row + m.x1, std::uint8_t(0));
      } else {
        std::fill(row + m.x0, row + std::max(m.x0, x0), std::uint8_t(0));
        std::fill(row + std::min(m.x1, std::max(x1, m.x0)), row + m.x1, std::uint8_t(0));
      }
    }
    if (x0 >= x1 || y0 >= y1) {
      m.x0 = m.y0 = m.x1 = m.y1 = 0;
    } else {
      m.x0 = x0;
      m.x1 = x1;
      m.y0 = y0;
      m.y1 = y1;
    }
  }
}

void Renderer::PopMask() {
  State& s = *state_;
  for (std::size_t i = s.mask_count; i > 0; --i) {
    if (!s.masks[i - 1].building) {
      // Drop it; building layers above it (not expected) go with it.
      s.mask_count = i - 1;
      return;
    }
  }
}

}  // namespace swf
