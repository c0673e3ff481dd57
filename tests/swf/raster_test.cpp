// The rasterizer against cairo: each case of the table draws the same shapes with swf::Renderer
// and with cairo (cairo_reference.h) onto the same background and compares the frames. Edge
// pixels (those cairo covers in part, and their neighbours) must agree within 2/255 mean per
// channel; every other pixel exactly for solid paints. Gradients and bitmaps are compared
// everywhere with a small tolerance: cairo interpolates stops at each pixel where Flash looks
// them up in a 256-entry table (half a step apart at most), and pixman's bilinear filter weighs
// with 7 bits where ours uses 8. `SWF_RASTER_DUMP=dir` writes both frames of each case as PNG.
#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "cairo_reference.h"
#include "swf/render.h"

namespace swf {
namespace {

constexpr int kWidth = 200;
constexpr int kHeight = 150;
constexpr Rgba kBackground{30, 200, 60, 255};
const Matrix kPixels{0.05f, 0, 0, 0.05f, 0, 0};  // shapes below are built in twips: 20 a pixel

using swf_ref::Circle;
using swf_ref::Op;
using swf_ref::P;
using swf_ref::Poly;

Edge L(Point a, Point b, std::uint16_t f0, std::uint16_t f1 = 0, std::uint16_t line = 0) {
  return {a, {}, b, false, f0, f1, line};
}
Edge Q(Point a, Point c, Point b, std::uint16_t f0, std::uint16_t f1 = 0, std::uint16_t line = 0) {
  return {a, c, b, true, f0, f1, line};
}
Shape Rect(float x0, float y0, float x1, float y1, FillStyle fill) {
  Shape s;
  s.fills.push_back(std::move(fill));
  Poly(s, {P(x0, y0), P(x1, y0), P(x1, y1), P(x0, y1)}, 1);
  return s;
}
Op Draw(Shape s, Matrix m = kPixels, ColorTransform cx = {}) {
  return {Op::Draw, std::move(s), m, cx};
}
Op MaskOp(Op::Kind kind) {
  return {kind, {}, kPixels, {}};
}

// A gradient square of `size` pixels centred on (x, y), turned by `degrees`.
Gradient MakeGradient(GradientKind kind, SpreadMode spread, float size, float x, float y,
                      float degrees, std::vector<GradientStop> stops) {
  const float k = size * 20 / 32768, a = degrees * 3.14159265f / 180;
  Gradient g;
  g.kind = kind;
  g.spread = spread;
  g.matrix = {k * std::cos(a), k * std::sin(a), -k * std::sin(a), k * std::cos(a), x * 20, y * 20};
  g.stops = std::move(stops);
  return g;
}
const std::vector<GradientStop> kThreeStops = {
    {0, {255, 0, 0, 255}}, {128, {255, 240, 0, 255}}, {255, {0, 0, 255, 255}}};
// The same colour at both ends: a repeating gradient has no jump where it starts again.
const std::vector<GradientStop> kCycle = {
    {0, {250, 20, 20, 255}}, {100, {20, 20, 250, 255}}, {255, {250, 20, 20, 255}}};

Shape GradientShape(Gradient g) {
  Shape s;
  s.fills.push_back(std::move(g));
  Poly(s, {P(10, 10), P(190, 14), P(186, 140), P(14, 136)}, 1);
  return s;
}

std::shared_ptr<const Bitmap> Texture() {
  auto b = std::make_shared<Bitmap>();
  b->width = 8;
  b->height = 6;
  for (int y = 0; y < b->height; ++y) {
    for (int x = 0; x < b->width; ++x) {
      const auto r = std::uint32_t((x * 37 + y * 11) % 256), g = std::uint32_t((y * 50) % 256);
      const auto bl = std::uint32_t(((x + y) % 2) * 200 + 30);
      b->pixels.push_back(0xff000000u | (r << 16) | (g << 8) | bl);
    }
  }
  return b;
}

Shape BitmapShape(bool repeat, bool smooth, float degrees) {
  BitmapFill f;
  f.bitmap = Texture();
  f.repeat = repeat;
  f.smooth = smooth;
  const float k = 80, a = degrees * 3.14159265f / 180;  // 4 pixels a texel
  f.matrix = {k * std::cos(a), k * std::sin(a), -k * std::sin(a),
              k * std::cos(a), 60.25f * 20,     40.25f * 20};
  Shape s;
  s.fills.push_back(f);
  Poly(s, {P(12, 8), P(188, 20), P(176, 142), P(20, 130)}, 1);
  return s;
}

LineStyle Line(float width_px, Rgba color, CapStyle cap, JoinStyle join, float miter_limit = 3) {
  LineStyle l;
  l.width = width_px * 20;
  l.fill = color;
  l.start_cap = l.end_cap = cap;
  l.join = join;
  l.miter_limit = miter_limit;
  return l;
}

Shape Strokes(const std::vector<LineStyle>& lines, const std::vector<std::vector<Point>>& paths,
              bool closed = false) {
  Shape s;
  s.lines = lines;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    Poly(s, paths[i], 0, std::uint16_t(i % lines.size() + 1), closed);
  }
  return s;
}

struct Tolerance {
  double edge_mean = 2.0;  // mean |difference| per channel over the edge pixels
  // Any one edge pixel: cairo samples 15 rows a pixel where we take the exact area, and our
  // curves are chords within 0.05 pixel of the true ones (up to 31 seen).
  int edge_max = 48;
  double inside_mean = 0;  // the same over the other pixels
  int inside_max = 0;
};

struct Case {
  Case(std::string n, std::function<std::vector<Op>()> b, Tolerance t = {})
      : name(std::move(n)), build(std::move(b)), tolerance(t) {}
  std::string name;
  std::function<std::vector<Op>()> build;
  Tolerance tolerance;
};

ColorTransform Cx(float mr, float mg, float mb, float ma, float ar, float ag, float ab, float aa) {
  return {mr, mg, mb, ma, ar, ag, ab, aa};
}

const Tolerance kPaint{2.0, 48, 0.6, 3};
const Tolerance kSmoothBitmap{2.0, 48, 0.6, 4};  // 7-bit against 8-bit weights

std::vector<Case> Cases() {
  using G = GradientKind;
  using S = SpreadMode;
  std::vector<Case> cases;
  cases.push_back({"TwoFillsSharingAnEdge", [] {
                     Shape s;
                     s.fills = {Rgba{230, 20, 20, 255}, Rgba{20, 20, 230, 255}};
                     const Point p0 = P(20, 20), p1 = P(100, 30), p2 = P(90, 130), p3 = P(15, 120);
                     const Point q1 = P(180, 40), q2 = P(170, 140);
                     s.edges = {L(p0, p1, 1), L(p1, p2, 1, 2), L(p2, p3, 1), L(p3, p0, 1),
                                L(p1, q1, 2), L(q1, q2, 2),    L(q2, p2, 2)};
                     return std::vector<Op>{Draw(s)};
                   }});
  cases.push_back({"TwoFillsSharingACurve",
                   [] {
                     Shape s;
                     s.fills = {Rgba{250, 200, 20, 255},
                                MakeGradient(G::Linear, S::Pad, 150, 100, 75, 20, kThreeStops)};
                     const Point a = P(100, 10), b = P(100, 140), c = P(10, 75), d = P(190, 75);
                     s.edges = {Q(a, P(160, 75), b, 1, 2), Q(b, P(40, 140), c, 1),
                                Q(c, P(40, 10), a, 1), Q(a, P(190, 10), d, 2),
                                Q(d, P(190, 140), b, 2)};
                     return std::vector<Op>{Draw(s, {0.05f, 0.01f, -0.01f, 0.05f, 2, -1})};
                   },
                   kPaint});
  for (bool even_odd : {false, true}) {
    cases.push_back({even_odd ? "SelfCrossingEvenOdd" : "SelfCrossingNonZero",
                     [even_odd] {
                       Shape s;
                       s.fills = {Rgba{240, 240, 30, 255}};
                       s.even_odd = even_odd;
                       std::vector<Point> star;
                       for (int i = 0; i < 5; ++i) {
                         const float a = float(i * 2) * 2 * 3.14159265f / 5 - 1.5708f;
                         star.push_back(P(100 + 65 * std::cos(a), 75 + 65 * std::sin(a)));
                       }
                       Poly(s, star, 1);
                       // A second loop over the first, the same way round.
                       Poly(s, {P(20, 60), P(180, 60), P(180, 90), P(20, 90)}, 1);
                       return std::vector<Op>{Draw(s)};
                     },
                     // Where two edges cross inside a pixel, an area sum folded by the rule can be
                     // off by up to half the pixel's cover (as in every area-sum rasterizer).
                     Tolerance{2.0, 96, 0, 0}});
  }
  cases.push_back({"Curves", [] {
                     Shape s;
                     s.fills = {Rgba{200, 40, 200, 255}, Rgba{250, 250, 250, 255}};
                     Circle(s, 42, 65, 34, 1);
                     s.edges.push_back(Q(P(120, 20), P(200, 20), P(160, 75), 2));
                     s.edges.push_back(Q(P(160, 75), P(120, 130), P(190, 140), 2));
                     s.edges.push_back(L(P(190, 140), P(110, 140), 2));
                     s.edges.push_back(Q(P(110, 140), P(60, 70), P(120, 20), 2));
                     const float a = 0.3f;
                     return std::vector<Op>{
                         Draw(s, {0.045f * std::cos(a), 0.045f * std::sin(a), -0.045f * std::sin(a),
                                  0.045f * std::cos(a), 30, -10})};
                   }});
  cases.push_back({"ShapesCrossingTheCanvasBorders", [] {
                     Shape s;
                     s.fills = {Rgba{20, 20, 20, 255}, Rgba{240, 60, 60, 255}};
                     Circle(s, 185, 75, 40, 1);                           // off the right
                     Circle(s, 10, 40, 30, 2);                            // off the left
                     Poly(s, {P(60, -30), P(120, -10), P(90, 30)}, 1);    // off the top
                     Poly(s, {P(-50, 120), P(300, 140), P(90, 190)}, 2);  // off three sides
                     s.lines = {Line(6, {250, 250, 250, 255}, CapStyle::Round, JoinStyle::Miter)};
                     Poly(s, {P(-20, 100), P(230, 60)}, 0, 1, false);
                     return std::vector<Op>{Draw(s)};
                   }});
  cases.push_back({"TranslucentOverlap", [] {
                     return std::vector<Op>{
                         Draw(Rect(20, 20, 130, 110, Rgba{255, 0, 0, 128})),
                         Draw(Rect(70.5f, 50.25f, 180, 130, Rgba{0, 0, 255, 96}))};
                   }});
  struct GradientCase {
    const char* name;
    G kind;
    S spread;
  };
  for (const GradientCase& g : {GradientCase{"LinearPad", G::Linear, S::Pad},
                                {"LinearReflect", G::Linear, S::Reflect},
                                {"LinearRepeat", G::Linear, S::Repeat},
                                {"RadialPad", G::Radial, S::Pad},
                                {"RadialReflect", G::Radial, S::Reflect},
                                {"RadialRepeat", G::Radial, S::Repeat},
                                {"FocalPad", G::Focal, S::Pad},
                                {"FocalReflect", G::Focal, S::Reflect},
                                {"FocalRepeat", G::Focal, S::Repeat}}) {
    cases.push_back({g.name,
                     [g] {
                       Gradient gr = MakeGradient(g.kind, g.spread, 70, 95, 70, 25,
                                                  g.spread == S::Repeat ? kCycle : kThreeStops);
                       gr.focal_point = 0.6f;
                       return std::vector<Op>{Draw(GradientShape(gr))};
                     },
                     kPaint});
  }
  cases.push_back({"LinearRgbInterpolation",
                   [] {
                     Gradient g = MakeGradient(G::Linear, S::Pad, 160, 100, 75, 0,
                                               {{0, {255, 0, 0, 255}}, {255, {0, 40, 255, 255}}});
                     g.interpolation = InterpolationMode::LinearRgb;
                     return std::vector<Op>{Draw(GradientShape(g))};
                   },
                   kPaint});
  cases.push_back({"TranslucentGradientStops",
                   [] {
                     Gradient g = MakeGradient(G::Radial, S::Pad, 140, 100, 75, 0,
                                               {{0, {255, 255, 0, 255}}, {255, {255, 255, 0, 0}}});
                     return std::vector<Op>{Draw(GradientShape(g))};
                   },
                   kPaint});
  for (bool repeat : {true, false}) {
    for (bool smooth : {true, false}) {
      const std::string name = std::string(repeat ? "Repeating" : "Clipped") + "Bitmap" +
                               (smooth ? "Smooth" : "Nearest");
      cases.push_back({name,
                       [repeat, smooth] {
                         return std::vector<Op>{Draw(BitmapShape(repeat, smooth, smooth ? 20 : 0))};
                       },
                       smooth ? kSmoothBitmap : Tolerance{}});
    }
  }
  const std::vector<Point> hook = {P(30, 0), P(90, 10), P(60, 30), P(150, 25)};
  const auto shifted = [](std::vector<Point> pts, float dx, float dy) {
    for (Point& p : pts) p = {p.x + dx * 20, p.y + dy * 20};
    return pts;
  };
  for (const auto& named :
       {std::pair{"RoundCaps", CapStyle::Round}, std::pair{"SquareCaps", CapStyle::Square},
        std::pair{"NoCaps", CapStyle::None}}) {
    const CapStyle cap = named.second;
    cases.push_back({named.first, [=] {
                       return std::vector<Op>{Draw(Strokes(
                           {Line(14, {20, 20, 20, 255}, cap, JoinStyle::Round),
                            Line(5, {250, 250, 250, 255}, cap, JoinStyle::Round)},
                           cap == CapStyle::Round  // cairo draws a dot for round caps only
                               ? std::vector<std::vector<Point>>{shifted(hook, 0, 25),
                                                                 shifted(hook, 10, 70),
                                                                 {P(100, 120), P(101, 120)},
                                                                 {P(40, 125), P(40, 125)}}
                               : std::vector<std::vector<Point>>{shifted(hook, 0, 25),
                                                                 shifted(hook, 10, 70),
                                                                 {P(100, 120), P(101, 120)}}))};
                     }});
  }
  for (const auto& named :
       {std::pair{"RoundJoins", JoinStyle::Round}, std::pair{"BevelJoins", JoinStyle::Bevel},
        std::pair{"MiterJoins", JoinStyle::Miter}}) {
    const JoinStyle join = named.second;
    cases.push_back(
        {named.first, [=] {
           // Every miter within the limit (cairo bevels past it, Flash cuts it off).
           const std::vector<Point> zigzag = {P(20, 40),  P(60, 10),  P(80, 60),
                                              P(120, 20), P(170, 40), P(150, 70)};
           Shape open = Strokes({Line(12, {20, 20, 120, 255}, CapStyle::None, join, 4)}, {zigzag});
           Shape closed = Strokes({Line(9, {220, 220, 20, 255}, CapStyle::Round, join)},
                                  {{P(30, 90), P(170, 95), P(120, 140), P(40, 130)}}, true);
           return std::vector<Op>{Draw(open), Draw(closed)};
         }});
  }
  cases.push_back({"CurvedStrokes", [] {
                     Shape s;
                     s.lines = {Line(8, {250, 250, 250, 255}, CapStyle::Round, JoinStyle::Round),
                                Line(4, {120, 0, 0, 255}, CapStyle::None, JoinStyle::Miter)};
                     Circle(s, 55, 70, 40, 0, 1);
                     s.edges.push_back(Q(P(110, 20), P(200, 20), P(150, 75), 0, 0, 2));
                     s.edges.push_back(Q(P(150, 75), P(100, 130), P(190, 140), 0, 0, 2));
                     return std::vector<Op>{Draw(s)};
                   }});
  cases.push_back({"HairlineOnePixelWide", [] {
                     Shape s;
                     s.lines = {Line(0.2f, {0, 0, 0, 255}, CapStyle::Round, JoinStyle::Round)};
                     s.edges.push_back(L(P(10, 145), P(190, 100), 0, 0, 1));
                     s.edges.push_back(L(P(190, 100), P(150, 10), 0, 0, 1));
                     return std::vector<Op>{Draw(s)};
                   }});
  cases.push_back({"FillsWithStrokeOnTop", [] {
                     Shape s = Rect(30.3f, 30.6f, 170.2f, 120.5f, Rgba{250, 130, 0, 255});
                     s.lines = {Line(6, {0, 0, 0, 180}, CapStyle::Round, JoinStyle::Miter)};
                     for (Edge& e : s.edges) e.line = 1;
                     return std::vector<Op>{Draw(s)};
                   }});
  cases.push_back({"StyleLayers", [] {  // the second layer's fill covers the first's line
                     Shape s = Rect(20.5f, 20.5f, 120, 110, Rgba{250, 250, 0, 255});
                     s.lines = {Line(10, {0, 0, 0, 255}, CapStyle::Round, JoinStyle::Round)};
                     for (Edge& e : s.edges) e.line = 1;
                     s.fills.push_back(Rgba{0, 0, 250, 200});
                     s.layer_starts = {s.edges.size()};
                     Poly(s, {P(60, 60), P(180, 70), P(170, 140), P(70, 130)}, 2);
                     return std::vector<Op>{Draw(s)};
                   }});
  cases.push_back({"Mask", [] {
                     Shape mask;
                     mask.fills = {Rgba{0, 0, 0, 10}, Rgba{0, 0, 0, 10}};
                     Circle(mask, 100, 75, 60, 1);
                     // A second fill in the mask sharing an edge with nothing: a square.
                     Poly(mask, {P(10, 10), P(50, 10), P(50, 50), P(10, 50)}, 2);
                     return std::vector<Op>{MaskOp(Op::BeginMask),
                                            Draw(mask),
                                            MaskOp(Op::EndMask),
                                            Draw(Rect(0, 40, 200, 110, Rgba{200, 0, 200, 255})),
                                            Draw(BitmapShape(true, false, 0)),
                                            MaskOp(Op::PopMask),
                                            Draw(Rect(150, 100, 195, 145, Rgba{0, 0, 0, 255}))};
                   }});
  cases.push_back({"NestedMasksIntersect", [] {
                     Shape a, b;
                     a.fills = b.fills = {Rgba{0, 0, 0, 255}};
                     Circle(a, 80, 75, 55, 1);
                     Circle(b, 130, 75, 55, 1);
                     return std::vector<Op>{MaskOp(Op::BeginMask),
                                            Draw(a),
                                            MaskOp(Op::EndMask),
                                            MaskOp(Op::BeginMask),
                                            Draw(b),
                                            MaskOp(Op::EndMask),
                                            Draw(Rect(0, 0, 200, 150, Rgba{250, 250, 250, 255})),
                                            MaskOp(Op::PopMask),
                                            Draw(Rect(10, 10, 60, 60, Rgba{0, 0, 250, 255})),
                                            MaskOp(Op::PopMask)};
                   }});
  const ColorTransform tint = Cx(0.5f, 0.8f, 1.0f, 0.7f, 60, -20, 10, 0);
  cases.push_back({"ColorTransformSolid", [tint] {
                     Shape s = Rect(20.5f, 20.25f, 180.7f, 130.4f, Rgba{200, 100, 50, 255});
                     return std::vector<Op>{Draw(s, kPixels, tint)};
                   }});
  // Flash transforms the gradient's table; cairo can only take transformed stops, which is the
  // same while no channel is clamped: this transform clamps none.
  cases.push_back(
      {"ColorTransformGradient",
       [] {
         const ColorTransform unclamped = Cx(0.5f, 0.8f, 0.9f, 0.7f, 60, 10, 10, 0);
         return std::vector<Op>{
             Draw(GradientShape(MakeGradient(G::Linear, S::Reflect, 90, 100, 75, -30, kThreeStops)),
                  kPixels, unclamped)};
       },
       kPaint});
  cases.push_back({"ColorTransformBitmapMultiply",
                   [] {
                     return std::vector<Op>{Draw(BitmapShape(true, false, 0), kPixels,
                                                 Cx(0.9f, 0.5f, 0.25f, 0.75f, 0, 0, 0, 0))};
                   },
                   Tolerance{2.0, 48, 0.5, 1}});
  cases.push_back(
      {"ColorTransformBitmapAdd",
       [tint] { return std::vector<Op>{Draw(BitmapShape(false, false, 0), kPixels, tint)}; },
       Tolerance{2.0, 48, 0.5, 1}});
  return cases;
}

struct Frame {
  std::vector<std::uint32_t> pixels = std::vector<std::uint32_t>(kWidth * kHeight);
};

cairo_surface_t* Wrap(Frame& f) {
  return cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(f.pixels.data()),
                                             CAIRO_FORMAT_ARGB32, kWidth, kHeight, kWidth * 4);
}

void DrawOurs(const std::vector<Op>& ops, Frame& f) {
  Renderer r;
  swf_ref::DrawOurs(r, {f.pixels.data(), kWidth, kHeight, kWidth}, kBackground, ops);
}

// cairo's own curves closer to the true ones than our 0.05 pixel.
void DrawReference(const std::vector<Op>& ops, Frame& f) {
  cairo_surface_t* surface = Wrap(f);
  swf_ref::DrawCairo(surface, kBackground, ops, true, 0.01);
  cairo_surface_destroy(surface);
}

// Pixels that some fill or line covers in part (by cairo), or whole beside an empty one, and
// their 8 neighbours. Each fill
// style apart, so the pixels along an edge two fills share count too.
std::vector<bool> EdgePixels(const std::vector<Op>& ops) {
  std::vector<bool> partial(kWidth * kHeight, false);
  const auto mark = [&](const Shape& shape, const Matrix& m) {
    cairo_surface_t* a8 = cairo_image_surface_create(CAIRO_FORMAT_A8, kWidth, kHeight);
    cairo_t* cr = cairo_create(a8);
    cairo_set_tolerance(cr, 0.01);
    swf_ref::DrawShape(cr, shape, m, {}, true);
    cairo_destroy(cr);
    cairo_surface_flush(a8);
    const unsigned char* data = cairo_image_surface_get_data(a8);
    const int stride = cairo_image_surface_get_stride(a8);
    const auto at = [&](int x, int y) {
      return x < 0 || y < 0 || x >= kWidth || y >= kHeight ? 0 : data[y * stride + x];
    };
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        // In part, or whole beside an empty one (a boundary along the pixels' own edges).
        const unsigned char v = at(x, y);
        if ((v != 0 && v != 255) ||
            (v == 255 && (!at(x - 1, y) || !at(x + 1, y) || !at(x, y - 1) || !at(x, y + 1)))) {
          partial[std::size_t(y * kWidth + x)] = true;
        }
      }
    }
    cairo_surface_destroy(a8);
  };
  for (const Op& op : ops) {
    if (op.kind != Op::Draw) continue;
    for (std::uint16_t style = 1; style <= op.shape.fills.size(); ++style) {
      Shape one = op.shape;
      one.lines.clear();
      for (Edge& e : one.edges) {
        e.fill0 = e.fill0 == style ? 1 : 0;
        e.fill1 = e.fill1 == style ? 1 : 0;
      }
      one.fills = {Rgba{}};
      mark(one, op.matrix);
    }
    Shape lines = op.shape;
    lines.fills.clear();
    mark(lines, op.matrix);
  }
  std::vector<bool> edge(partial.size(), false);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      if (!partial[std::size_t(y * kWidth + x)]) continue;
      for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
          const int nx = x + dx, ny = y + dy;
          if (nx >= 0 && ny >= 0 && nx < kWidth && ny < kHeight) {
            edge[std::size_t(ny * kWidth + nx)] = true;
          }
        }
      }
    }
  }
  return edge;
}

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class RasterVsCairo : public testing::TestWithParam<Case> {};

TEST_P(RasterVsCairo, AgreesWithCairo) {
  const Case& c = GetParam();
  const std::vector<Op> ops = c.build();
  Frame ours, reference;
  DrawOurs(ops, ours);
  DrawReference(ops, reference);
  if (const char* dir = std::getenv("SWF_RASTER_DUMP")) {
    for (auto [frame, suffix] : {std::pair{&ours, "ours"}, std::pair{&reference, "cairo"}}) {
      cairo_surface_t* s = Wrap(*frame);
      cairo_surface_write_to_png(s,
                                 (std::string(dir) + "/" + c.name + "-" + suffix + ".png").c_str());
      cairo_surface_destroy(s);
    }
  }
  const std::vector<bool> edge = EdgePixels(ops);
  double sums[2] = {0, 0};
  int counts[2] = {0, 0}, worst[2] = {0, 0}, worst_at[2] = {-1, -1};
  for (std::size_t i = 0; i < ours.pixels.size(); ++i) {
    const int k = edge[i] ? 0 : 1;
    ++counts[k];
    for (int shift = 0; shift < 32; shift += 8) {
      const int d = std::abs(int((ours.pixels[i] >> shift) & 255) -
                             int((reference.pixels[i] >> shift) & 255));
      sums[k] += d;
      if (d > worst[k]) {
        worst[k] = d;
        worst_at[k] = int(i);
      }
    }
  }
  const double edge_mean = counts[0] ? sums[0] / (4.0 * counts[0]) : 0;
  const double inside_mean = counts[1] ? sums[1] / (4.0 * counts[1]) : 0;
  const auto where = [](int i) {
    return "(" + std::to_string(i % kWidth) + ", " + std::to_string(i / kWidth) + ")";
  };
  EXPECT_GT(counts[0], 0);
  EXPECT_LE(edge_mean, c.tolerance.edge_mean) << counts[0] << " edge pixels";
  EXPECT_LE(worst[0], c.tolerance.edge_max) << "at " << where(worst_at[0]);
  EXPECT_LE(inside_mean, c.tolerance.inside_mean);
  EXPECT_LE(worst[1], c.tolerance.inside_max)
      << "at " << where(worst_at[1]) << std::hex << ": ours "
      << ours.pixels[std::size_t(worst_at[1] < 0 ? 0 : worst_at[1])] << ", cairo "
      << reference.pixels[std::size_t(worst_at[1] < 0 ? 0 : worst_at[1])];
  RecordProperty("edgeMean", std::to_string(edge_mean));
  std::printf("%-32s edge mean %.3f max %3d | inside mean %.3f max %3d\n", c.name.c_str(),
              edge_mean, worst[0], inside_mean, worst[1]);
  if (c.name == "TwoFillsSharingAnEdge") {
    // No seam: the background's green (200) shows nowhere along the shared edge, where both
    // fills have 20.
    for (int y = 40; y <= 120; ++y) {
      const int x = 100 - (y - 30) / 10;
      for (int dx = -2; dx <= 2; ++dx) {
        EXPECT_NEAR(int((ours.pixels[std::size_t(y * kWidth + x + dx)] >> 8) & 255), 20, 1)
            << "seam at " << x + dx << ", " << y;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Table, RasterVsCairo, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<Case>& param) {
                           return param.param.name;
                         });

}  // namespace
}  // namespace swf

namespace swf {
namespace {

// A miter past its limit is cut off across the bisector at the limit, as Flash draws it (cairo
// would bevel it): a V of 30 degrees, 20 pixels wide, limit 2 (the tip at most 2 half-widths
// from the vertex), pointing up from (100, 60).
TEST(RasterMiter, CutOffAtTheLimit) {
  Shape s;
  s.lines = {Line(20, {0, 0, 0, 255}, CapStyle::None, JoinStyle::Miter, 2)};
  const float spread = std::tan(15 * 3.14159265f / 180) * 80;
  Poly(s, {P(100 - spread, 140), P(100, 60), P(100 + spread, 140)}, 0, 1, false);
  Frame f;
  DrawOurs({Draw(s)}, f);
  const auto dark = [&](int y) {  // the green of the background gone
    return ((f.pixels[std::size_t(y * kWidth + 100)] >> 8) & 255) < 100;
  };
  EXPECT_TRUE(dark(60 - 17));   // inside the cut: a bevel would end 2.6 pixels above the vertex
  EXPECT_FALSE(dark(60 - 23));  // past the cut: a whole miter would reach 38.6 pixels
}

// Flash's LOW quality: a pixel is wholly in or out by its centre, the edge at its left or above
// it counting in. A square from 10.3 to 20.6 pixels covers columns and rows 10 to 20; a line 3
// pixels wide along x = 45 (from 43.5 to 46.5) covers columns 43 to 45.
TEST(RasterAliased, PixelsWhollyInOrOutByTheirCentres) {
  Shape square = Rect(10.3f, 10.3f, 20.6f, 20.6f, Rgba{0, 0, 0, 255});
  Shape line;
  line.lines = {Line(3, {0, 0, 0, 255}, CapStyle::None, JoinStyle::Round, 3)};
  Poly(line, {P(45, 40), P(45, 140)}, 0, 1, false);
  Frame f;
  Renderer r;
  r.SetAntialias(false);
  swf_ref::DrawOurs(r, {f.pixels.data(), kWidth, kHeight, kWidth}, kBackground,
                    {Draw(square), Draw(line)});
  const auto covered = [&](int x, int y) {
    return (f.pixels[std::size_t(y * kWidth + x)] & 0xffffff) == 0;
  };
  for (const std::uint32_t p : f.pixels) {
    EXPECT_TRUE((p & 0xffffff) == 0 || (p & 0xffffff) == 0x1ec83c) << std::hex << p;
  }
  EXPECT_FALSE(covered(9, 15));
  EXPECT_TRUE(covered(10, 15));
  EXPECT_TRUE(covered(20, 20));
  EXPECT_FALSE(covered(21, 15));
  EXPECT_FALSE(covered(15, 21));
  EXPECT_FALSE(covered(42, 90));
  EXPECT_TRUE(covered(43, 90));
  EXPECT_TRUE(covered(45, 90));
  EXPECT_FALSE(covered(46, 90));
}

// Hostile shapes and calls: each ends without a fault (the sanitizers watch), and those that
// can draw nothing leave the canvas as it was.
struct Hostile {
  std::string name;
  std::function<std::vector<Op>()> build;
  bool draws_nothing;
};

void PrintTo(const Hostile& h, std::ostream* os) {
  *os << h.name;
}

std::vector<Hostile> HostileCases() {
  const auto square = [](FillStyle fill) { return Rect(20, 20, 120, 100, std::move(fill)); };
  const float nan = std::nanf(""), inf = INFINITY;
  std::vector<Hostile> cases;
  cases.push_back({"NotANumberInTheMatrix",
                   [=] {
                     return std::vector<Op>{Draw(square(Rgba{}), {nan, 0, 0, 0.05f, 0, 0})};
                   },
                   true});
  cases.push_back({"InfiniteMatrix",
                   [=] {
                     return std::vector<Op>{Draw(square(Rgba{}), {inf, 0, 0, inf, 0, 0})};
                   },
                   true});
  cases.push_back({"SingularMatrix",
                   [=] {
                     return std::vector<Op>{Draw(square(Rgba{}), {0, 0, 0, 0, 10, 10})};
                   },
                   true});
  cases.push_back({"StyleIndicesOutOfRange",
                   [=] {
                     Shape s = square(Rgba{});
                     for (Edge& e : s.edges) e.fill0 = 7, e.fill1 = 65535, e.line = 3;
                     return std::vector<Op>{Draw(s)};
                   },
                   true});
  cases.push_back(
      {"MissingBitmap", [=] { return std::vector<Op>{Draw(square(BitmapFill{}))}; }, true});
  cases.push_back({"BitmapShorterThanItsSize",
                   [=] {
                     auto b = std::make_shared<Bitmap>();
                     b->width = 1000;
                     b->height = 1000;
                     b->pixels.assign(10, 0xffffffffu);
                     BitmapFill f;
                     f.bitmap = b;
                     return std::vector<Op>{Draw(square(f))};
                   },
                   true});
  cases.push_back(
      {"GradientWithoutStops", [=] { return std::vector<Op>{Draw(square(Gradient{}))}; }, true});
  cases.push_back({"SingularGradientAndBitmapMatrices",
                   [=] {
                     Gradient g = MakeGradient(GradientKind::Focal, SpreadMode::Reflect, 0, 0, 0, 0,
                                               kThreeStops);
                     g.focal_point = nan;
                     BitmapFill f;
                     f.bitmap = Texture();
                     f.matrix = {0, 0, 0, 0, 0, 0};
                     return std::vector<Op>{Draw(square(g)), Draw(square(f))};
                   },
                   true});
  cases.push_back({"HugeAndNonFiniteCoordinates",
                   [=] {
                     Shape s;
                     s.fills = {Rgba{1, 2, 3, 255}};
                     s.lines = {Line(2, {1, 2, 3, 255}, CapStyle::Round, JoinStyle::Miter)};
                     s.edges = {Q({-1e30f, -1e30f}, {1e30f, 3e30f}, {1e30f, -1e30f}, 1, 0, 1),
                                L({1e30f, -1e30f}, {nan, inf}, 1, 0, 1),
                                L({nan, inf}, {-1e30f, -1e30f}, 1, 0, 1)};
                     return std::vector<Op>{Draw(s)};
                   },
                   false});
  cases.push_back({"HugeStrokeWidth",
                   [=] {
                     return std::vector<Op>{Draw(
                         Strokes({Line(1e9f, {9, 9, 9, 255}, CapStyle::Round, JoinStyle::Round)},
                                 {{P(10, 10), P(50, 60), P(90, 10)}}))};
                   },
                   false});
  cases.push_back(
      {"ManyEdges",
       [=] {  // a spiral of 50000 short curves, filled and stroked
         Shape s;
         s.fills = {Rgba{200, 0, 0, 255}};
         s.lines = {Line(1, {0, 0, 200, 255}, CapStyle::Round, JoinStyle::Round)};
         Point prev = P(100, 75);
         for (int i = 1; i <= 50000; ++i) {
           const float a = float(i) * 0.01f, r = float(i) * 0.0016f;
           const Point next = P(100 + r * std::cos(a), 75 + r * std::sin(a));
           s.edges.push_back(Q(prev, {(prev.x + next.x) / 2 + 3, prev.y}, next, 1, 0, 1));
           prev = next;
         }
         return std::vector<Op>{Draw(s)};
       },
       false});
  cases.push_back({"ManyFillsAndLayers",
                   [=] {  // each layer a gradient triangle of its own
                     Shape s;
                     for (int i = 0; i < 5000; ++i) {
                       s.layer_starts.push_back(s.edges.size());
                       s.fills.push_back(MakeGradient(GradientKind::Radial, SpreadMode::Pad, 9,
                                                      float(i % 200), 20, 0, kThreeStops));
                       const auto f = std::uint16_t(s.fills.size() % 65536);
                       Poly(s, {P(float(i % 200), 10), P(float(i % 200) + 3, 30), P(0, 30)}, f);
                     }
                     return std::vector<Op>{Draw(s)};
                   },
                   false});
  cases.push_back({"MaskCallsOutOfOrder",
                   [=] {
                     return std::vector<Op>{MaskOp(Op::EndMask),   MaskOp(Op::PopMask),
                                            MaskOp(Op::BeginMask), MaskOp(Op::BeginMask),
                                            MaskOp(Op::EndMask),   MaskOp(Op::PopMask),
                                            MaskOp(Op::PopMask),   MaskOp(Op::PopMask)};
                   },
                   true});
  cases.push_back(
      {"EmptyMaskHidesEverything",
       [=] {
         return std::vector<Op>{MaskOp(Op::BeginMask), MaskOp(Op::EndMask), Draw(square(Rgba{}))};
       },
       true});
  return cases;
}

class RasterHostile : public testing::TestWithParam<Hostile> {};

TEST_P(RasterHostile, EndsCleanly) {
  const Hostile& c = GetParam();
  Frame f;
  DrawOurs(c.build(), f);
  if (c.draws_nothing) {
    const std::uint32_t background = 0xff000000u | (std::uint32_t(kBackground.r) << 16) |
                                     (std::uint32_t(kBackground.g) << 8) | kBackground.b;
    EXPECT_EQ(std::count(f.pixels.begin(), f.pixels.end(), background), kWidth * kHeight);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, RasterHostile, testing::ValuesIn(HostileCases()),
                         [](const testing::TestParamInfo<Hostile>& param) {
                           return param.param.name;
                         });

// No canvas, or a canvas with no room: every call is a no-op.
TEST(RasterHostile, CanvasWithoutPixels) {
  Renderer r;
  std::vector<std::uint32_t> pixels(4, 7);
  for (const FramePixels& c :
       {FramePixels{}, FramePixels{pixels.data(), 2, 2, 1}, FramePixels{pixels.data(), 0, 5, 4},
        FramePixels{pixels.data(), -3, 2, 2}}) {
    r.BeginFrame(c, kBackground);
    r.BeginMask();
    r.DrawShape(Rect(0, 0, 10, 10, Rgba{}), kPixels, {});
    r.EndMask();
    r.DrawShape(Rect(0, 0, 10, 10, Rgba{}), kPixels, {});
    r.PopMask();
  }
  EXPECT_EQ(std::count(pixels.begin(), pixels.end(), 7u), 4);
}

}  // namespace
}  // namespace swf
