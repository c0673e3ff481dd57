#pragma once
// Laying a text field's styled text out in its box (margins, indents, alignment, leading,
// letter spacing, word wrap) and turning the lines in view into one shape of glyph outlines.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "swf/shape.h"
#include "swf/text/styled_text.h"

namespace swf {

// Where glyphs come from: the movie's fonts or the system's (text_field.cpp).
struct LineMetrics {
  float ascent = 0;  // twips
  float descent = 0;
};
struct GlyphOutline {
  const Shape* shape = nullptr;  // none: the character takes room but draws nothing
  float scale = 0;               // glyph units to twips
  float advance = 0;             // twips
};
class GlyphSource {
 public:
  GlyphSource() = default;
  virtual ~GlyphSource() = default;
  GlyphSource(const GlyphSource&) = delete;
  GlyphSource& operator=(const GlyphSource&) = delete;
  GlyphSource(GlyphSource&&) = delete;
  GlyphSource& operator=(GlyphSource&&) = delete;

  virtual LineMetrics Metrics(const TextFormat& format) = 0;
  // Valid until the next call.
  virtual GlyphOutline Glyph(const TextFormat& format, char32_t code) = 0;
  // The pair's kerning in twips (0 without).
  virtual float Kerning(const TextFormat& format, char32_t left, char32_t right) = 0;
};

struct LayoutBox {
  Rect bounds;  // twips
  bool word_wrap = false;
  bool multiline = false;
  bool password = false;
  bool spaces_count = false;  // Flash 7 and before: trailing spaces count in every alignment
};

// Flash keeps two pixels between a field's bounds and its text.
inline constexpr float kGutter = 40;

struct LaidGlyph {
  std::size_t index = 0;  // into the text
  char32_t code = 0;      // as drawn ('*' in a password field)
  float x = 0;            // from the bounds' left edge, twips
  float advance = 0;
};
struct LaidLine {
  std::size_t begin = 0;  // glyphs [begin, end)
  std::size_t end = 0;
  float top = 0;  // from the bounds' top edge, twips
  float ascent = 0;
  float descent = 0;
  float leading = 0;
  float left = 0;  // the first glyph's x
  float width = 0;
};
struct TextLayout {
  std::vector<LaidGlyph> glyphs;
  std::vector<LaidLine> lines;  // at least one
  float text_width = 0;         // the widest line
  float text_height = 0;        // all lines
};

// Lays out at most `max_glyphs` glyphs.
[[nodiscard]] TextLayout LayOut(const StyledText& text, const LayoutBox& box, GlyphSource& fonts,
                                std::size_t max_glyphs);

// The characters [begin, end) of a text, selected.
struct Selection {
  std::size_t begin = 0;
  std::size_t end = 0;
};

// The lines from `scroll` (0-based) down that start inside the box, moved up to its top and left
// by `hscroll` twips, as glyph outlines (and underlines) filled with their colours; the selected
// characters inverted on a highlight of their colour.
void DrawLayout(const TextLayout& layout, const StyledText& text, const LayoutBox& box,
                GlyphSource& fonts, std::size_t scroll, float hscroll, Shape& out,
                Selection selected = {});

// Appends the edges of rectangle `r`, filled with `fill` and stroked with `line` (0 for none).
void AddRectangle(Shape& out, const Rect& r, std::uint16_t fill, std::uint16_t line);

// How many lines from `scroll` on fit in the box (at least one).
[[nodiscard]] std::size_t LinesInView(const TextLayout& layout, const LayoutBox& box,
                                      std::size_t scroll);

}  // namespace swf
