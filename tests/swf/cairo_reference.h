#pragma once
// The reference renderer for the rasterizer's tests and benchmark: draws a swf::Shape with cairo
// into an image surface, the same paths the rasterizer draws; and the scenes both draw (shapes
// and clip masks in drawing order), with the helpers that build them. A shape's fills are drawn as
// cairo's compound equivalent: each style filled with the ADD operator into a group, the group
// then painted over the canvas (so an edge shared by two fills leaves no seam, as in Flash).
// Lines are one cairo_stroke per path. Linux tests and benchmark only.

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "swf/render.h"
#include "swf/shape.h"

namespace swf_ref {

inline void SetMatrix(cairo_pattern_t* pattern, const swf::Matrix& to_canvas) {
  const swf::Matrix inverse = to_canvas.Inverse().value_or(swf::Matrix{});
  cairo_matrix_t m;
  cairo_matrix_init(&m, inverse.a, inverse.b, inverse.c, inverse.d, inverse.tx, inverse.ty);
  cairo_pattern_set_matrix(pattern, &m);
}

inline double SrgbToLinear(double c) {
  return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}
inline double LinearToSrgb(double l) {
  return l <= 0.0031308 ? l * 12.92 : 1.055 * std::pow(l, 1 / 2.4) - 0.055;
}

// A pattern for `fill` drawn through `to_canvas` with `cx` (the caller destroys it). Colour
// transforms go onto the stops and the bitmap's pixels; linear-RGB interpolation is sampled into
// 256 stops, since cairo interpolates in sRGB only.
inline cairo_pattern_t* MakePattern(const swf::FillStyle& fill, const swf::Matrix& to_canvas,
                                    const swf::ColorTransform& cx,
                                    std::vector<std::unique_ptr<std::uint32_t[]>>& keep) {
  if (const auto* solid = std::get_if<swf::Rgba>(&fill)) {
    const swf::Rgba c = cx.Apply(*solid);
    return cairo_pattern_create_rgba(c.r / 255.0, c.g / 255.0, c.b / 255.0, c.a / 255.0);
  }
  if (const auto* g = std::get_if<swf::Gradient>(&fill)) {
    // In a unit square (pixman's fixed point has no room for 16384 squared).
    cairo_pattern_t* p;
    const double f = std::clamp(g->focal_point, -0.98f, 0.98f);
    if (g->kind == swf::GradientKind::Linear) {
      p = cairo_pattern_create_linear(-1, 0, 1, 0);
    } else {
      p = cairo_pattern_create_radial(g->kind == swf::GradientKind::Focal ? f : 0, 0, 0, 0, 0, 1);
    }
    const auto add = [&](double offset, double r, double gr, double b, double a) {
      const swf::Rgba c = cx.Apply({std::uint8_t(r + 0.5), std::uint8_t(gr + 0.5),
                                    std::uint8_t(b + 0.5), std::uint8_t(a + 0.5)});
      cairo_pattern_add_color_stop_rgba(p, offset, c.r / 255.0, c.g / 255.0, c.b / 255.0,
                                        c.a / 255.0);
    };
    if (g->interpolation == swf::InterpolationMode::Rgb) {
      for (const auto& s : g->stops)
        add(s.ratio / 255.0, s.color.r, s.color.g, s.color.b, s.color.a);
    } else {
      for (int i = 0; i <= 255; ++i) {
        const double ratio = i;
        std::size_t k = 0;
        while (k + 2 < g->stops.size() && g->stops[k + 1].ratio < ratio) ++k;
        const auto& s0 = g->stops[k];
        const auto& s1 = g->stops[std::min(k + 1, g->stops.size() - 1)];
        const double t = s1.ratio == s0.ratio
                             ? 0
                             : std::clamp((ratio - s0.ratio) / (s1.ratio - s0.ratio), 0.0, 1.0);
        const auto mix = [&](std::uint8_t a, std::uint8_t b) {
          const double l = SrgbToLinear(a / 255.0) * (1 - t) + SrgbToLinear(b / 255.0) * t;
          return LinearToSrgb(l) * 255;
        };
        add(ratio / 255, mix(s0.color.r, s1.color.r), mix(s0.color.g, s1.color.g),
            mix(s0.color.b, s1.color.b), s0.color.a * (1 - t) + s1.color.a * t);
      }
    }
    cairo_pattern_set_extend(p, g->spread == swf::SpreadMode::Pad       ? CAIRO_EXTEND_PAD
                                : g->spread == swf::SpreadMode::Reflect ? CAIRO_EXTEND_REFLECT
                                                                        : CAIRO_EXTEND_REPEAT);
    SetMatrix(p, swf::Matrix{16384, 0, 0, 16384, 0, 0}.Then(g->matrix).Then(to_canvas));
    return p;
  }
  const auto& bf = std::get<swf::BitmapFill>(fill);
  const swf::Bitmap& bm = *bf.bitmap;
  auto pixels = std::make_unique<std::uint32_t[]>(bm.pixels.size());
  for (std::size_t i = 0; i < bm.pixels.size(); ++i) {  // the transform on straight colours
    const std::uint32_t p = bm.pixels[i];
    const std::uint32_t a = p >> 24;
    const auto un = [&](int shift) {
      return std::uint8_t(
          a == 0 ? 0 : std::min<std::uint32_t>(255, (((p >> shift) & 255) * 255 + a / 2) / a));
    };
    const swf::Rgba c = cx.Apply({un(16), un(8), un(0), std::uint8_t(a)});
    const auto pre = [&](std::uint8_t v) { return std::uint32_t(v * c.a + 127) / 255; };
    pixels[i] = (std::uint32_t(c.a) << 24) | (pre(c.r) << 16) | (pre(c.g) << 8) | pre(c.b);
  }
  cairo_surface_t* surface =
      cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(pixels.get()),
                                          CAIRO_FORMAT_ARGB32, bm.width, bm.height, bm.width * 4);
  keep.push_back(std::move(pixels));
  cairo_pattern_t* p = cairo_pattern_create_for_surface(surface);
  cairo_surface_destroy(surface);
  cairo_pattern_set_extend(p, bf.repeat ? CAIRO_EXTEND_REPEAT : CAIRO_EXTEND_PAD);
  cairo_pattern_set_filter(p, bf.smooth ? CAIRO_FILTER_BILINEAR : CAIRO_FILTER_NEAREST);
  SetMatrix(p, bf.matrix.Then(to_canvas));
  return p;
}

inline void AppendEdge(cairo_t* cr, const swf::Matrix& m, swf::Point from, const swf::Edge& e,
                       bool reversed) {
  const swf::Point to = m.Apply(reversed ? e.from : e.to);
  if (!e.curved) {
    cairo_line_to(cr, to.x, to.y);
    return;
  }
  const swf::Point c = m.Apply(e.control);  // the quadratic as a cubic
  cairo_curve_to(cr, from.x + 2.0 / 3 * (c.x - from.x), from.y + 2.0 / 3 * (c.y - from.y),
                 to.x + 2.0 / 3 * (c.x - to.x), to.y + 2.0 / 3 * (c.y - to.y), to.x, to.y);
}

// The edges bounding fill `style`, chained into contours (fill0 edges forwards, fill1 edges
// backwards, so every contour winds the same way round the style).
inline void AppendFillPath(cairo_t* cr, const swf::Shape& shape, const swf::Matrix& m,
                           std::uint16_t style) {
  struct Directed {
    const swf::Edge* edge;
    bool reversed;
  };
  std::vector<Directed> edges;
  std::multimap<std::pair<float, float>, std::size_t> by_start;
  for (const auto& e : shape.edges) {
    if (e.fill0 == e.fill1 || (e.fill0 != style && e.fill1 != style)) continue;
    const bool reversed = e.fill1 == style;
    const swf::Point start = reversed ? e.to : e.from;
    by_start.emplace(std::pair{start.x, start.y}, edges.size());
    edges.push_back({&e, reversed});
  }
  std::vector<bool> used(edges.size(), false);
  for (std::size_t first = 0; first < edges.size(); ++first) {
    if (used[first]) continue;
    std::size_t i = first;
    cairo_move_to(cr, m.Apply(edges[i].reversed ? edges[i].edge->to : edges[i].edge->from).x,
                  m.Apply(edges[i].reversed ? edges[i].edge->to : edges[i].edge->from).y);
    for (;;) {
      used[i] = true;
      const Directed& d = edges[i];
      double x, y;
      cairo_get_current_point(cr, &x, &y);
      AppendEdge(cr, m, {float(x), float(y)}, *d.edge, d.reversed);
      const swf::Point end = d.reversed ? d.edge->from : d.edge->to;
      auto [lo, hi] = by_start.equal_range({end.x, end.y});
      std::size_t next = edges.size();
      for (auto it = lo; it != hi; ++it) {
        if (!used[it->second]) {
          next = it->second;
          break;
        }
      }
      if (next == edges.size()) break;
      i = next;
    }
    cairo_close_path(cr);
  }
}

// Draws `shape` onto `cr` (identity matrix, canvas pixels). `coverage_only`: every paint opaque
// white, as a mask sees it. `grouped` false fills each style straight onto the canvas instead of
// through a group (cheaper; seams where fills meet): what the benchmark's cairo does.
inline void DrawShape(cairo_t* cr, const swf::Shape& shape, const swf::Matrix& m,
                      const swf::ColorTransform& cx, bool coverage_only = false,
                      bool grouped = true) {
  if (!shape.layer_starts.empty()) {  // each style layer as a shape of its own, in order
    std::size_t begin = 0;
    for (std::size_t i = 0; i <= shape.layer_starts.size(); ++i) {
      const std::size_t end =
          i < shape.layer_starts.size() ? shape.layer_starts[i] : shape.edges.size();
      swf::Shape layer = shape;
      layer.layer_starts.clear();
      layer.edges.assign(shape.edges.begin() + std::ptrdiff_t(begin),
                         shape.edges.begin() + std::ptrdiff_t(end));
      DrawShape(cr, layer, m, cx, coverage_only, grouped);
      begin = end;
    }
    return;
  }
  std::vector<std::unique_ptr<std::uint32_t[]>> keep;
  const auto source = [&](const swf::FillStyle& fill) {
    if (coverage_only) {
      cairo_set_source_rgba(cr, 1, 1, 1, 1);
      return;
    }
    cairo_pattern_t* p = MakePattern(fill, m, cx, keep);
    cairo_set_source(cr, p);
    cairo_pattern_destroy(p);
  };
  if (grouped) cairo_push_group(cr);
  for (std::size_t s = 1; s <= shape.fills.size(); ++s) {
    cairo_new_path(cr);
    AppendFillPath(cr, shape, m, std::uint16_t(s));
    source(shape.fills[s - 1]);
    cairo_set_operator(cr, grouped ? CAIRO_OPERATOR_ADD : CAIRO_OPERATOR_OVER);
    cairo_set_fill_rule(cr, shape.even_odd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
    cairo_fill(cr);
  }
  if (grouped) {
    cairo_pop_group_to_source(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    cairo_paint(cr);
  }
  const double scale = std::sqrt(std::fabs(m.a * m.d - m.b * m.c));
  std::size_t i = 0;
  while (i < shape.edges.size()) {
    const std::uint16_t line = shape.edges[i].line;
    if (line == 0 || line > shape.lines.size()) {
      ++i;
      continue;
    }
    const swf::LineStyle& style = shape.lines[line - 1];
    cairo_new_path(cr);
    const swf::Point start = shape.edges[i].from;
    swf::Point end = start;
    cairo_move_to(cr, m.Apply(start).x, m.Apply(start).y);
    for (; i < shape.edges.size(); ++i) {
      const swf::Edge& e = shape.edges[i];
      if (e.line != line || e.from.x != end.x || e.from.y != end.y) break;
      AppendEdge(cr, m, m.Apply(e.from), e, false);
      end = e.to;
    }
    if (!style.no_close && end.x == start.x && end.y == start.y) cairo_close_path(cr);
    const auto cap = [](swf::CapStyle c) {
      return c == swf::CapStyle::Round  ? CAIRO_LINE_CAP_ROUND
             : c == swf::CapStyle::None ? CAIRO_LINE_CAP_BUTT
                                        : CAIRO_LINE_CAP_SQUARE;
    };
    cairo_set_line_cap(cr, cap(style.start_cap));
    cairo_set_line_join(cr, style.join == swf::JoinStyle::Round   ? CAIRO_LINE_JOIN_ROUND
                            : style.join == swf::JoinStyle::Bevel ? CAIRO_LINE_JOIN_BEVEL
                                                                  : CAIRO_LINE_JOIN_MITER);
    cairo_set_miter_limit(cr, std::max(1.0f, style.miter_limit));
    cairo_set_line_width(cr, std::max(1.0, style.width * scale));
    source(style.fill);
    cairo_stroke(cr);
  }
}

// One step of a scene: a shape drawn, or a clip mask begun, made active or dropped.
struct Op {
  enum Kind { Draw, BeginMask, EndMask, PopMask } kind = Draw;
  swf::Shape shape;
  swf::Matrix matrix{0.05f, 0, 0, 0.05f, 0, 0};  // twips to pixels
  swf::ColorTransform cx;
};

inline swf::Point P(float x, float y) {
  return {x * 20, y * 20};
}  // pixels to twips

// A closed polygon (or an open polyline) of pixel points with fill0 `f0` and line `line`.
inline void Poly(swf::Shape& s, const std::vector<swf::Point>& pts, std::uint16_t f0,
                 std::uint16_t line = 0, bool closed = true) {
  for (std::size_t i = 0; i + 1 < pts.size() + (closed ? 1 : 0); ++i) {
    s.edges.push_back({pts[i], {}, pts[(i + 1) % pts.size()], false, f0, 0, line});
  }
}

// A circle of eight quadratic curves, as Flash writes them (centre and radius in pixels).
inline void Circle(swf::Shape& s, float cx, float cy, float r, std::uint16_t f0,
                   std::uint16_t line = 0) {
  constexpr float kPi = 3.14159265f;
  const float k = r / std::cos(kPi / 8);
  for (int i = 0; i < 8; ++i) {
    const float a0 = float(i) * kPi / 4, a1 = float(i + 1) * kPi / 4, am = (a0 + a1) / 2;
    s.edges.push_back({P(cx + r * std::cos(a0), cy + r * std::sin(a0)),
                       P(cx + k * std::cos(am), cy + k * std::sin(am)),
                       P(cx + r * std::cos(a1), cy + r * std::sin(a1)), true, f0, 0, line});
  }
}

// The scene through swf::Renderer, onto a canvas it first fills with `background`.
inline void DrawOurs(swf::Renderer& r, const swf::FramePixels& canvas, swf::Rgba background,
                     const std::vector<Op>& ops) {
  r.BeginFrame(canvas, background);
  for (const Op& op : ops) {
    switch (op.kind) {
      case Op::Draw:
        r.DrawShape(op.shape, op.matrix, op.cx);
        break;
      case Op::BeginMask:
        r.BeginMask();
        break;
      case Op::EndMask:
        r.EndMask();
        break;
      case Op::PopMask:
        r.PopMask();
        break;
    }
  }
}

// The scene through cairo onto `surface` (ARGB32), first filled with `background`. Each mask is
// an A8 surface (intersected with the one below when made active); a shape under a mask is drawn
// into a group painted through it. `grouped` as in DrawShape.
inline void DrawCairo(cairo_surface_t* surface, swf::Rgba background, const std::vector<Op>& ops,
                      bool grouped, double tolerance) {
  cairo_t* cr = cairo_create(surface);
  cairo_set_tolerance(cr, tolerance);
  cairo_set_source_rgb(cr, background.r / 255.0, background.g / 255.0, background.b / 255.0);
  cairo_paint(cr);
  const int width = cairo_image_surface_get_width(surface);
  const int height = cairo_image_surface_get_height(surface);
  struct Mask {
    cairo_surface_t* surface;
    bool building;
  };
  std::vector<Mask> masks;
  for (const Op& op : ops) {
    if (op.kind == Op::BeginMask) {
      masks.push_back({cairo_image_surface_create(CAIRO_FORMAT_A8, width, height), true});
    } else if (op.kind == Op::EndMask) {
      masks.back().building = false;
      if (masks.size() > 1) {
        cairo_t* m = cairo_create(masks.back().surface);
        cairo_set_operator(m, CAIRO_OPERATOR_DEST_IN);
        cairo_set_source_surface(m, masks[masks.size() - 2].surface, 0, 0);
        cairo_paint(m);
        cairo_destroy(m);
      }
    } else if (op.kind == Op::PopMask) {
      cairo_surface_destroy(masks.back().surface);
      masks.pop_back();
    } else if (!masks.empty() && masks.back().building) {
      cairo_t* m = cairo_create(masks.back().surface);
      cairo_set_tolerance(m, tolerance);
      DrawShape(m, op.shape, op.matrix, op.cx, true, grouped);
      cairo_destroy(m);
    } else if (!masks.empty()) {
      cairo_push_group(cr);
      DrawShape(cr, op.shape, op.matrix, op.cx, false, grouped);
      cairo_pop_group_to_source(cr);
      cairo_mask_surface(cr, masks.back().surface, 0, 0);
    } else {
      DrawShape(cr, op.shape, op.matrix, op.cx, false, grouped);
    }
  }
  for (Mask& m : masks) cairo_surface_destroy(m.surface);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
}

}  // namespace swf_ref
