#pragma once
// Scan conversion: shapes flattened in canvas space into line segments that carry a style and a
// winding direction. An edge adds +1 to the style on its left (fill0) and -1 to the style on its
// right (fill1), so each style's coverage comes from its own windings and an edge shared by two
// styles gives them complementary coverage (no seams). Coverage is exact area: each segment adds
// the signed area it leaves to its right into a row of cells, and a prefix sum over the row gives
// the winding-weighted coverage of every pixel (as in AGG, stb_truetype and font-rs), then the
// fill rule folds it. Rows are swept one at a time with an active segment list sorted by style.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "swf/shape.h"

namespace swf::render {

constexpr float kTolerance = 0.05f;  // curve and arc flattening, in pixels (half cairo's default)
constexpr float kCoordLimit = 4e6f;  // canvas coordinates are clamped to this
// Bounds on a hostile shape (a real one stays far below): the segments one fill or stroke pass
// keeps (28 MB), and the rows the segments of all its passes cross together (the sweep's work:
// about 0.2 s at most).
constexpr std::size_t kSegmentBudget = std::size_t(1) << 20;
constexpr double kRowBudget = 4e6;

// How many chords keep a quadratic curve within the tolerance: its distance from the chords of n
// equal steps is |a - 2c + b| / (8 n^2). At least 1, at most `most` (and 1 for non-finite ends).
int CurveSegments(Point a, Point c, Point b, int most);

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
  // Aliased: a pixel is wholly in or out by its centre (on an edge: in when the edge is at its
  // left or above it), as Flash draws at LOW quality. Otherwise coverage is exact area.
  void SetAliased(bool aliased) { aliased_ = aliased; }
  [[nodiscard]] bool Empty() const { return segments_.empty(); }
  // Starts a shape's budget of rows crossed (see kRowBudget).
  void NewShape() { rows_ = 0; }
  [[nodiscard]] bool Spent() const { return rows_ > kRowBudget; }

  void Line(Point a, Point b, std::uint32_t style, float dir);
  void Quad(Point a, Point c, Point b, std::uint32_t style, float dir);

  struct Run {
    int x0, x1;
    int value;  // the coverage of the whole run, or -1: coverage[x] each
  };

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
      SortActiveByStyle();
      begin(y);
      std::size_t g = 0;
      while (g < active_.size()) {
        const std::uint32_t style = segments_[active_[g]].style;
        touched_.clear();
        std::size_t e = g;
        for (; e < active_.size() && segments_[active_[e]].style == style; ++e) {
          if (aliased_) {
            AddCentreCrossing(segments_[active_[e]], top);
          } else {
            AddToRow(segments_[active_[e]], top, bottom);
          }
        }
        g = e;
        if (SweepRow(even_odd)) emit(style, y, runs_.data(), runs_.size(), coverage_.data());
      }
      end(y);
    }
  }

 private:
  // Insertion sort: the order changes little from one row to the next.
  void SortActiveByStyle();
  // Turns the row's cells into runs: the touched cells one by one, the spans between them whole.
  // Clears the cells. False when nothing is covered.
  bool SweepRow(bool even_odd);
  // Adds the part of `s` within the row [top, bottom) to the cells.
  void AddToRow(const Segment& s, float top, float bottom);
  // Aliased: adds `s` where it crosses the row's centre line, to the first pixel right of it.
  void AddCentreCrossing(const Segment& s, float top);

  int width_ = 0;
  int height_ = 0;
  bool aliased_ = false;
  std::vector<Segment> segments_;
  double rows_ = 0;  // rows the segments cross, all together
  std::vector<std::uint32_t> active_;
  std::vector<float> cells_;
  std::vector<std::uint8_t> coverage_;
  std::vector<std::pair<int, int>> touched_;  // cell ranges [first, second) edges touched
  std::vector<Run> runs_;
};

}  // namespace swf::render
