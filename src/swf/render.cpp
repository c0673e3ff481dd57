// The renderer: a shape's style layers turned into fill and stroke passes through the parts in
// render/, onto the canvas or the layer being drawn, and layers drawn back with their effects.
#include "swf/render.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "swf/render/blend.h"
#include "swf/render/compositor.h"
#include "swf/render/filters.h"
#include "swf/render/mask.h"
#include "swf/render/paint.h"
#include "swf/render/pixel.h"
#include "swf/render/rasterizer.h"
#include "swf/render/stroker.h"

namespace swf {
namespace {

using render::PixelBox;

constexpr std::size_t kStrokeChunk = 8192;  // vertices of one stroked path drawn at once
constexpr std::size_t kMaxLayers = 8;       // layers inside layers
// The filter work of one frame, in pixel passes a frame's pixels: enough for every object of a
// busy frame to carry a blur of the best quality, bounded when a movie asks for blurs of 255 at
// quality 15 on dozens of nested objects (the filters past it are left out).
constexpr double kFilterPassesPerFrame = 96;

bool Finite(const Matrix& m) {
  return std::isfinite(m.a) && std::isfinite(m.b) && std::isfinite(m.c) && std::isfinite(m.d) &&
         std::isfinite(m.tx) && std::isfinite(m.ty);
}

// A layer: canvas-sized so masks and paints keep their coordinates, used (and cleared) only
// inside its box.
struct Layer {
  std::vector<std::uint32_t> pixels;
  PixelBox box;
  std::size_t mask_base = 0;  // the masks active outside it
  LayerEffects effects;
};

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

Rect GrowByFilters(Rect bounds, std::span<const Filter> filters, float scale) {
  for (const Filter& f : filters) {
    const render::Reach r = render::FilterReach(f, scale);
    bounds.x_min -= float(r.left);
    bounds.y_min -= float(r.top);
    bounds.x_max += float(r.right);
    bounds.y_max += float(r.bottom);
  }
  return bounds;
}

struct Renderer::State {
  FramePixels canvas;
  render::LinearTables linear;
  render::Rasterizer raster;
  render::Stroker stroker;
  render::Compositor compositor;
  render::MaskStack masks;
  render::FilterScratch filter_scratch;
  std::vector<render::Paint> paints;
  std::vector<Layer> layers;  // the stack; past `layer_count` kept for reuse
  std::size_t layer_count = 0;
  double filter_work_left = 0;  // pixel passes
  std::vector<Point> points;
  std::vector<bool> smooth;
  std::vector<std::uint32_t> used;  // the fill styles whose paints the pass prepared
  render::Paint stroke_paint;
  render::LutPool luts;

  [[nodiscard]] bool Ready() const {
    return canvas.pixels != nullptr && canvas.width > 0 && canvas.height > 0 &&
           canvas.stride >= canvas.width;
  }
  // Where shapes are drawn now: the top layer, or the canvas.
  [[nodiscard]] FramePixels Target() const {
    if (layer_count == 0) return canvas;
    Layer& top = const_cast<Layer&>(layers[layer_count - 1]);
    return {top.pixels.data(), canvas.width, canvas.height, canvas.width};
  }
  [[nodiscard]] PixelBox Box() const {
    return layer_count == 0 ? PixelBox{0, 0, canvas.width, canvas.height}
                            : layers[layer_count - 1].box;
  }
  [[nodiscard]] std::size_t MaskBase() const {
    return layer_count == 0 ? 0 : layers[layer_count - 1].mask_base;
  }
  void Fill(bool even_odd, const render::Paint* paint_of, render::MaskLayer* mask) {
    compositor.Fill(raster, even_odd, paint_of, Box(), Target(), masks.Clip(MaskBase()), mask);
  }
  void DrawLayer(const Shape& shape, std::size_t begin, std::size_t end, const Matrix& to_canvas,
                 const ColorTransform& cx);
};

Renderer::Renderer() : state_(std::make_unique<State>()) {}
Renderer::~Renderer() = default;

void Renderer::BeginFrame(const FramePixels& canvas, Rgba background) {
  State& s = *state_;
  s.canvas = canvas;
  s.masks.Clear();
  s.layer_count = 0;
  s.filter_work_left = kFilterPassesPerFrame * double(canvas.width) * double(canvas.height);
  if (!s.Ready()) return;
  const std::uint32_t pixel = 0xff000000u | (std::uint32_t(background.r) << 16) |
                              (std::uint32_t(background.g) << 8) | background.b;
  for (int y = 0; y < canvas.height; ++y) {
    std::uint32_t* row = canvas.pixels + std::ptrdiff_t(y) * canvas.stride;
    std::fill(row, row + canvas.width, pixel);
  }
}

void Renderer::SetAntialias(bool on) {
  state_->raster.SetAliased(!on);
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
  render::MaskLayer* target = s.masks.Target();
  const int width = s.canvas.width, height = s.canvas.height;
  const auto apply = [&](Point p) { return to_canvas.Apply(p); };
  using render::PaintKind;

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
  if (!s.raster.Empty()) s.Fill(shape.even_odd, s.paints.data(), target);

  // Lines: each path of one style, in the order of the edges.
  const float scale = std::sqrt(std::fabs(to_canvas.a * to_canvas.d - to_canvas.b * to_canvas.c));
  const auto sub = [](Point a, Point b) { return Point{a.x - b.x, a.y - b.y}; };
  std::size_t i = begin;
  const std::size_t count = end;
  while (i < count && !s.raster.Spent()) {
    const std::uint16_t line = shape.edges[i].line;
    if (line == 0 || line > shape.lines.size()) {
      ++i;
      continue;
    }
    const LineStyle& style = shape.lines[line - 1];
    render::Stroker::Style st;
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
        const int n = render::CurveSegments(a, c, b, 64);
        // Caps face the way the curve does at its ends, not its chords.
        if (j == i) st.start_dir = sub(c, a);
        st.end_dir = sub(b, c);
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
    if (!std::isfinite(st.radius) || st.radius > render::kCoordLimit) continue;
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
    s.Fill(false, &s.stroke_paint, target);
  }
}

void Renderer::BeginMask() {
  State& s = *state_;
  s.masks.Begin(s.Ready(), s.canvas.width, s.canvas.height);
}

void Renderer::EndMask() {
  State& s = *state_;
  s.masks.End(s.Ready());
}

void Renderer::PopMask() {
  state_->masks.Pop();
}

bool Renderer::BeginLayer(const Rect& bounds, const LayerEffects& effects) {
  State& s = *state_;
  if (!s.Ready() || s.masks.Target() != nullptr || s.layer_count >= kMaxLayers) return false;
  const float scale = std::isfinite(effects.filter_scale) && effects.filter_scale > 0
                          ? std::min(effects.filter_scale, 64.0f)
                          : 1.0f;
  const Rect grown = GrowByFilters(bounds, effects.filters, scale);
  const PixelBox outer = s.Box();
  const auto edge = [](float v, int lo, int hi) {
    return std::isfinite(v) ? int(std::clamp(v, float(lo), float(hi))) : lo;
  };
  PixelBox box{edge(std::floor(grown.x_min), outer.x0, outer.x1),
               edge(std::floor(grown.y_min), outer.y0, outer.y1),
               edge(std::ceil(grown.x_max), outer.x0, outer.x1),
               edge(std::ceil(grown.y_max), outer.y0, outer.y1)};
  if (box.Empty()) box = {};
  if (s.layers.size() <= s.layer_count) s.layers.emplace_back();
  Layer& layer = s.layers[s.layer_count++];
  const std::size_t size = std::size_t(s.canvas.width) * std::size_t(s.canvas.height);
  if (layer.pixels.size() != size) layer.pixels.assign(size, 0);
  for (int y = box.y0; y < box.y1; ++y) {
    std::fill_n(layer.pixels.data() + std::ptrdiff_t(y) * s.canvas.width + box.x0, box.x1 - box.x0,
                0u);
  }
  layer.box = box;
  layer.mask_base = std::size_t(s.masks.Depth());
  layer.effects = effects;
  layer.effects.filter_scale = scale;
  return true;
}

void Renderer::EndLayer() {
  State& s = *state_;
  if (s.layer_count == 0) return;
  Layer& layer = s.layers[--s.layer_count];
  const PixelBox box = layer.box;
  if (box.Empty() || !s.Ready()) return;
  const int stride = s.canvas.width;
  const double area = double(box.x1 - box.x0) * double(box.y1 - box.y0);
  for (const Filter& f : layer.effects.filters) {
    const auto* blur = std::get_if<BlurFilter>(&f);
    const auto* shadow = std::get_if<ShadowFilter>(&f);
    const auto* convolution = std::get_if<ConvolutionFilter>(&f);
    const int passes = blur ? blur->passes : shadow ? shadow->passes : 1;
    const double cost =
        area * (convolution ? std::clamp(convolution->columns * convolution->rows, 1, 225) / 4.0
                            : 2.0 * std::clamp(passes, 1, 15));
    if (cost > s.filter_work_left) break;
    s.filter_work_left -= cost;
    render::ApplyFilter(f, layer.effects.filter_scale, layer.pixels.data(), stride, box,
                        s.filter_scratch);
  }
  const BlendMode mode = layer.effects.blend;
  // On the canvas, alpha and erase have no layer to act on.
  if (s.layer_count == 0 && (mode == BlendMode::Alpha || mode == BlendMode::Erase)) return;
  const ColorTransform& cx = layer.effects.color;
  const bool transform = !cx.IsIdentity();
  const render::MaskLayer* clip = s.masks.Clip(s.MaskBase());
  const FramePixels below = s.Target();
  for (int y = box.y0; y < box.y1; ++y) {
    std::uint32_t* src = layer.pixels.data() + std::ptrdiff_t(y) * stride;
    const std::uint8_t* cover =
        clip ? clip->coverage.data() + std::ptrdiff_t(y) * clip->width : nullptr;
    for (int x = box.x0; x < box.x1; ++x) {
      std::uint32_t p = src[x];
      if (transform && p != 0) {
        p = render::Premultiply(cx.Apply(render::Unpremultiply(p)));
      }
      if (cover != nullptr) p = render::MulPixel(p, cover[x]);
      src[x] = p;
    }
    render::BlendRow(mode, src + box.x0, below.pixels + std::ptrdiff_t(y) * below.stride + box.x0,
                     box.x1 - box.x0);
  }
}

}  // namespace swf
