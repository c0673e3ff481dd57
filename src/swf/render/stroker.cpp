// Strokes: joins (round, bevel, miter cut at its limit as Flash cuts it), caps and dots.
#include "swf/render/stroker.h"

#include <algorithm>
#include <cmath>

namespace swf::render {
namespace {

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

}  // namespace

void Stroker::Stroke(const std::vector<Point>& points, const std::vector<bool>& smooth, bool closed,
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

void Stroker::Join(std::vector<Point>& poly, std::size_t v, std::size_t in, std::size_t out,
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

void Stroker::Cap(std::vector<Point>& poly, Point p, Point d, CapStyle cap) const {
  const float r = style_.radius;
  const Point n = Scale(Normal(d), r);
  if (cap == CapStyle::Square) {
    poly.push_back(Add(Add(p, n), Scale(d, r)));
    poly.push_back(Add(Sub(p, n), Scale(d, r)));
  } else if (cap == CapStyle::Round) {
    Arc(poly, p, n, Scale(n, -1), d);
  }
}

void Stroker::Arc(std::vector<Point>& poly, Point c, Point from, Point to, Point via) const {
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

void Stroker::Emit(const std::vector<Point>& poly, Rasterizer& out) {
  for (std::size_t i = 0; i < poly.size(); ++i) {
    out.Line(poly[i], poly[(i + 1) % poly.size()], 0, 1);
  }
}

}  // namespace swf::render
