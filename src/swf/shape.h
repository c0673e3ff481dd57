#pragma once
// What a movie's shapes are made of, as the SWF reader builds them and the rasterizer draws them.
// Coordinates are the file's own units (twips) unless a comment says otherwise.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

namespace swf {

struct Point {
  float x = 0;
  float y = 0;
};

struct Rect {
  float x_min = 0;
  float x_max = 0;
  float y_min = 0;
  float y_max = 0;
};

// The file's affine matrix: x' = a*x + c*y + tx, y' = b*x + d*y + ty.
struct Matrix {
  float a = 1;
  float b = 0;
  float c = 0;
  float d = 1;
  float tx = 0;
  float ty = 0;

  [[nodiscard]] Point Apply(Point p) const {
    return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty};
  }
  // This matrix first, then outer.
  [[nodiscard]] Matrix Then(const Matrix& outer) const {
    return {outer.a * a + outer.c * b,
            outer.b * a + outer.d * b,
            outer.a * c + outer.c * d,
            outer.b * c + outer.d * d,
            outer.a * tx + outer.c * ty + outer.tx,
            outer.b * tx + outer.d * ty + outer.ty};
  }
  [[nodiscard]] std::optional<Matrix> Inverse() const {
    const double det = double(a) * d - double(b) * c;
    if (det == 0) return std::nullopt;
    const double ia = d / det, ib = -b / det, ic = -c / det, id = a / det;
    return Matrix{float(ia),
                  float(ib),
                  float(ic),
                  float(id),
                  float(-(ia * tx + ic * ty)),
                  float(-(ib * tx + id * ty))};
  }
};

// Straight (not premultiplied) colour.
struct Rgba {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
  std::uint8_t a = 255;
  friend bool operator==(const Rgba&, const Rgba&) = default;
};

// The file's colour transform: channel * mul + add, clamped to 0..255; mul is a fraction (1 keeps).
struct ColorTransform {
  float mul_r = 1;
  float mul_g = 1;
  float mul_b = 1;
  float mul_a = 1;
  float add_r = 0;
  float add_g = 0;
  float add_b = 0;
  float add_a = 0;

  [[nodiscard]] Rgba Apply(Rgba c) const {
    const auto channel = [](std::uint8_t v, float mul, float add) {
      return std::uint8_t(std::lround(std::clamp(float(v) * mul + add, 0.0f, 255.0f)));
    };
    return {channel(c.r, mul_r, add_r), channel(c.g, mul_g, add_g), channel(c.b, mul_b, add_b),
            channel(c.a, mul_a, add_a)};
  }
  // This transform first, then outer.
  [[nodiscard]] ColorTransform Then(const ColorTransform& outer) const {
    return {mul_r * outer.mul_r,
            mul_g * outer.mul_g,
            mul_b * outer.mul_b,
            mul_a * outer.mul_a,
            add_r * outer.mul_r + outer.add_r,
            add_g * outer.mul_g + outer.add_g,
            add_b * outer.mul_b + outer.add_b,
            add_a * outer.mul_a + outer.add_a};
  }
  [[nodiscard]] bool IsIdentity() const {
    return mul_r == 1 && mul_g == 1 && mul_b == 1 && mul_a == 1 && add_r == 0 && add_g == 0 &&
           add_b == 0 && add_a == 0;
  }
};

struct Bitmap;
class ImageDecoder;

// Where a bitmap of the file gets its pixels when they are drawn: the movie's bitmap cache
// (bitmap_cache.h), which decodes the tag and may drop the pixels again when memory runs short.
class BitmapSource {
 public:
  BitmapSource() = default;
  virtual ~BitmapSource() = default;
  BitmapSource(const BitmapSource&) = delete;
  BitmapSource& operator=(const BitmapSource&) = delete;
  BitmapSource(BitmapSource&&) = delete;
  BitmapSource& operator=(BitmapSource&&) = delete;

  // The pixels, decoded now when the cache doesn't hold them (with `own`, the calling thread's
  // decoder, else the movie's); null when they can't be.
  [[nodiscard]] virtual std::shared_ptr<const Bitmap> Pixels(ImageDecoder* own) const = 0;
};

// A decoded picture: premultiplied alpha, 0xAARRGGBB in native order (B, G, R, A bytes on a
// little-endian machine), rows top to bottom without padding. A bitmap of the file holds no
// pixels itself, only its size and its source.
struct Bitmap {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
  std::shared_ptr<const BitmapSource> source = nullptr;
};

// The pixels to draw `bitmap` with: its own, or its source's (null when there are none).
inline std::shared_ptr<const Bitmap> PixelsOf(const std::shared_ptr<const Bitmap>& bitmap) {
  if (!bitmap || !bitmap->source || !bitmap->pixels.empty()) return bitmap;
  return bitmap->source->Pixels(nullptr);
}

struct GradientStop {
  std::uint8_t ratio = 0;  // 0..255 along the gradient
  Rgba color;
};
enum class GradientKind { Linear, Radial, Focal };
enum class SpreadMode { Pad, Reflect, Repeat };
enum class InterpolationMode { Rgb, LinearRgb };

// The gradient square runs from -16384 to 16384 in both axes; `matrix` maps it into shape space.
// Linear: ratio 0 at x = -16384, 255 at x = 16384. Radial: 0 at the centre, 255 on the circle of
// radius 16384. Focal: as radial, with the focus at (focal_point * 16384, 0).
struct Gradient {
  GradientKind kind = GradientKind::Linear;
  Matrix matrix;
  std::vector<GradientStop> stops;  // 1 to 15, ratios in any order
  SpreadMode spread = SpreadMode::Pad;
  InterpolationMode interpolation = InterpolationMode::Rgb;
  float focal_point = 0;  // -1..1
};

// `matrix` maps bitmap pixels into shape space (20 per pixel for a picture at its own size).
// A missing bitmap (an unknown id) draws nothing.
struct BitmapFill {
  std::shared_ptr<const Bitmap> bitmap;
  Matrix matrix;
  bool repeat = true;  // repeating, else clipped: the edge pixels go on outside
  bool smooth = true;  // bilinear, else nearest
};

using FillStyle = std::variant<Rgba, Gradient, BitmapFill>;

enum class CapStyle { Round, None, Square };
enum class JoinStyle { Round, Bevel, Miter };

struct LineStyle {
  float width = 20;  // twips; drawn at least one pixel wide
  FillStyle fill;    // a solid colour, or LineStyle2's fill
  CapStyle start_cap = CapStyle::Round;
  CapStyle end_cap = CapStyle::Round;
  JoinStyle join = JoinStyle::Round;
  float miter_limit = 3;  // as a multiple of half the width, the file's 8.8 factor
  bool no_close = false;  // a closed path gets caps instead of a join where it meets itself
};

// One edge: a segment from `from` to `to`, a quadratic curve through `control` when `curved`.
// Styles are 1-based indices into the shape's fills and lines, 0 for none. fill0 lies on the
// edge's left as it runs from `from` to `to` in the file's y-down space, fill1 on its right.
// Edges keep the file's order: consecutive edges with one line style whose ends meet form one
// stroked path.
struct Edge {
  Point from;
  Point control;
  Point to;
  bool curved = false;
  std::uint16_t fill0 = 0;
  std::uint16_t fill1 = 0;
  std::uint16_t line = 0;
};

// A glyph's edge placed by `m`, filled with `fill` on the sides the glyph fills, unstroked.
inline Edge PlaceGlyphEdge(Edge e, const Matrix& m, std::uint16_t fill) {
  e.from = m.Apply(e.from);
  e.control = m.Apply(e.control);
  e.to = m.Apply(e.to);
  e.fill0 = e.fill0 ? fill : 0;
  e.fill1 = e.fill1 ? fill : 0;
  e.line = 0;
  return e;
}

// A shape with every style change already resolved: the reader appends the styles that a
// new-style record brings to `fills` and `lines` and renumbers its edges, so indices are global.
struct Shape {
  Rect bounds;
  std::vector<FillStyle> fills;
  std::vector<LineStyle> lines;
  std::vector<Edge> edges;
  bool even_odd = false;  // the fill rule; non-zero when false
  // Where each style layer after the first begins, as indices into `edges`, ascending: a
  // new-style record starts one. A layer's fills and lines are drawn above everything of the
  // layers before it. Empty: the whole shape is one layer.
  std::vector<std::size_t> layer_starts;
};

}  // namespace swf
