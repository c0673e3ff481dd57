// The cells and the sweep: segments added to a row of area cells, folded into runs of coverage.
#include "swf/render/rasterizer.h"

#include <cmath>

#include "swf/render/pixel.h"

namespace swf::render {
namespace {

// Folds a winding-weighted area into 0..255 by the fill rule.
int Rule(float sum, bool even_odd) {
  float c = std::fabs(sum);
  if (even_odd) {
    c -= 2 * float(int(c * 0.5f));
    if (c > 1) c = 2 - c;
  }
  return Round(std::min(c, 1.0f) * 255);
}

}  // namespace

int CurveSegments(Point a, Point c, Point b, int most) {
  const float ddx = a.x - 2 * c.x + b.x, ddy = a.y - 2 * c.y + b.y;
  const float n = std::ceil(std::sqrt(std::sqrt(ddx * ddx + ddy * ddy) / (8 * kTolerance)));
  return n >= 1 ? int(std::min(n, float(most))) : 1;  // NaN compares false
}

void Rasterizer::Line(Point a, Point b, std::uint32_t style, float dir) {
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

void Rasterizer::Quad(Point a, Point c, Point b, std::uint32_t style, float dir) {
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

void Rasterizer::SortActiveByStyle() {
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
}

bool Rasterizer::SweepRow(bool even_odd) {
  runs_.clear();
  if (touched_.empty()) return false;
  std::sort(
      touched_.begin(), touched_.end(),
      [](const std::pair<int, int>& l, const std::pair<int, int>& r) { return l.first < r.first; });
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

void Rasterizer::AddCentreCrossing(const Segment& s, float top) {
  const float centre = top + 0.5f;
  if (!(s.y0 <= centre && centre < s.y1)) return;
  const float x = s.x0 + (centre - s.y0) * s.dxdy;
  const float first = std::ceil(x - 0.5f);  // the first pixel whose centre is at x or right of it
  if (!(first < float(width_))) return;     // changes no pixel (the sweep goes on to the row's end)
  const int i = first > 0 ? int(first) : 0;
  cells_[std::size_t(i)] += s.dir;
  touched_.emplace_back(i, i + 1);
}

void Rasterizer::AddToRow(const Segment& s, float top, float bottom) {
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

}  // namespace swf::render
