// Preparing a fill style for a pass, and the dispatch of spans to its generator.
#include "swf/render/paint.h"

#include <algorithm>
#include <cmath>

#include "swf/render/pixel.h"

namespace swf::render {

void PreparePaint(const FillStyle& fill, const Matrix& to_canvas, const ColorTransform& cx,
                  const LinearTables& tables, LutPool& luts, Paint& paint) {
  paint.kind = PaintKind::None;
  paint.held.reset();
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
    paint.held = PixelsOf(bitmap_fill->bitmap);
    const Bitmap* bitmap = paint.held.get();
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
    case PaintKind::Radial:
    case PaintKind::Focal:
      GradientSpan(p, u0, v0, du, dv, n, out);
      break;
    case PaintKind::Bitmap:
      BitmapSpan(p, u0, v0, du, dv, n, out);
      break;
    default:
      std::fill(out, out + n, p.color);
      break;
  }
}

}  // namespace swf::render
