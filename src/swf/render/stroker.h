#pragma once
// The stroker: a line style's path turned into the outline the rasterizer fills.

#include <cstddef>
#include <vector>

#include "swf/render/rasterizer.h"
#include "swf/shape.h"

namespace swf::render {

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
              const Style& style, Rasterizer& out);

 private:
  // The outline's points at vertex v between segments `in` and `out` on one side (+1 left).
  void Join(std::vector<Point>& poly, std::size_t v, std::size_t in, std::size_t out,
            float side) const;
  // From the left end (p + normal) round to the right end (p - normal), ends excluded.
  void Cap(std::vector<Point>& poly, Point p, Point d, CapStyle cap) const;
  // The points strictly between offsets `from` and `to` on the circle around c, the shorter way
  // round, or through the direction `via` when they are opposite.
  void Arc(std::vector<Point>& poly, Point c, Point from, Point to, Point via) const;
  static void Emit(const std::vector<Point>& poly, Rasterizer& out);

  Style style_;
  std::vector<Point> pts_;
  std::vector<bool> smooth_;
  std::vector<Point> dirs_;
  std::vector<float> lens_;
  std::vector<Point> left_;
  std::vector<Point> right_;
};

}  // namespace swf::render
