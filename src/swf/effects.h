#pragma once
// What a placed object may carry besides its shape: a blend mode and a list of filters
// (PlaceObject3). Sizes and distances are in stage pixels; the renderer scales them to the canvas.

#include <array>
#include <cstdint>
#include <variant>
#include <vector>

#include "swf/shape.h"

namespace swf {

// The file's order: 0 and 1 are both normal.
enum class BlendMode : std::uint8_t {
  Normal,
  Layer,
  Multiply,
  Screen,
  Lighten,
  Darken,
  Difference,
  Add,
  Subtract,
  Invert,
  Alpha,
  Erase,
  Overlay,
  Hardlight,
};

// A box blur `blur_x` x `blur_y` pixels wide, repeated `passes` times (the quality).
struct BlurFilter {
  float blur_x = 4;
  float blur_y = 4;
  int passes = 1;
};

// Drop shadow, glow, bevel and their gradient kinds: the object's alpha, blurred, offset by
// `distance` along `angle`, coloured, and drawn behind it (outer), inside it (inner) or over it
// (bevel on top). Knockout leaves out the object itself; so does hide_object, which for an outer
// effect still shows the whole shadow.
enum class ShadowKind : std::uint8_t { DropShadow, Glow, Bevel, GradientGlow, GradientBevel };
struct ShadowFilter {
  ShadowKind kind = ShadowKind::DropShadow;
  Rgba color{0, 0, 0, 255};            // drop shadow and glow; a bevel's shadow
  Rgba highlight{255, 255, 255, 255};  // a bevel's highlight
  std::vector<GradientStop> gradient;  // the gradient kinds: 1 to 16 stops
  float blur_x = 4;
  float blur_y = 4;
  float angle = 0;     // radians, clockwise from the x axis (y points down)
  float distance = 0;  // pixels
  float strength = 1;
  int passes = 1;
  bool inner = false;
  bool knockout = false;
  bool hide_object = false;
  bool on_top = false;  // bevels: over the object's edge both ways
};

// New channels from the straight (not premultiplied) ones: row i gives channel i (r, g, b, a)
// as m[5i] r + m[5i+1] g + m[5i+2] b + m[5i+3] a + m[5i+4], in 0..255 units.
struct ColorMatrixFilter {
  std::array<float, 20> matrix{1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0};
};

// Each pixel the weighted sum of its neighbours (`columns` x `rows`, centred), divided, biased.
struct ConvolutionFilter {
  int columns = 0;
  int rows = 0;
  std::vector<float> matrix;  // columns x rows, row by row
  float divisor = 1;
  float bias = 0;
  Rgba default_color{0, 0, 0, 0};  // outside the picture, unless clamp
  bool clamp = true;               // outside the picture: its edge pixels repeated
  bool preserve_alpha = true;
};

using Filter = std::variant<BlurFilter, ShadowFilter, ColorMatrixFilter, ConvolutionFilter>;

}  // namespace swf
