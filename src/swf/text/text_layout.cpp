#include "swf/text/text_layout.h"

#include <algorithm>
#include <cmath>

namespace swf {
namespace {

constexpr float kBulletIndent = 360;  // a list item's text, right of its bullet
constexpr float kBulletAt = 100;
constexpr float kDefaultTab = 640;  // twips between the stops of a paragraph without its own

bool IsSpace(char32_t c) {
  return c == U' ' || c == U'\t' || c == 0x3000;
}
// Text without spaces between words (Chinese, Japanese): a line may break beside any of these.
bool IsIdeographic(char32_t c) {
  return (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFF00 && c <= 0xFFEF) || (c >= 0x20000 && c <= 0x2FFFF);
}
// Characters a Japanese line never starts with.
bool IsClosing(char32_t c) {
  return c == 0x3001 || c == 0x3002 || c == 0xFF0C || c == 0xFF0E || c == 0x300D || c == 0x300F ||
         c == 0xFF09 || c == 0x30FC || c == 0xFF01 || c == 0xFF1F;
}
bool BreaksBefore(const std::u32string& t, std::size_t k) {
  const char32_t prev = t[k - 1], c = t[k];
  if (IsSpace(prev)) return !IsSpace(c);
  return (IsIdeographic(c) || IsIdeographic(prev)) && !IsClosing(c) && !IsSpace(c);
}

// Walks the runs alongside the text, so a format costs no search per character.
class Formats {
 public:
  explicit Formats(const StyledText& t) : t_(t) {}
  const TextFormat& At(std::size_t i) {
    if (t_.runs.empty()) return none_;
    if (run_ < t_.runs.size() && i >= t_.runs[run_].end) {
      while (run_ < t_.runs.size() && i >= t_.runs[run_].end) ++run_;
    } else if (run_ > 0 && i < t_.runs[run_ - 1].end) {
      run_ = 0;
      while (run_ < t_.runs.size() && i >= t_.runs[run_].end) ++run_;
    }
    return run_ < t_.runs.size() ? t_.runs[run_].format : t_.runs.back().format;
  }

 private:
  const StyledText& t_;
  std::size_t run_ = 0;
  TextFormat none_;
};

struct Lines {
  const StyledText& text;
  const LayoutBox& box;
  GlyphSource& fonts;
  std::size_t max_glyphs;
  TextLayout out;
  Formats formats{text};
  float y = kGutter;

  [[nodiscard]] float Width() const { return box.bounds.x_max - box.bounds.x_min - 2 * kGutter; }

  // One paragraph, text[p0, p1), as many lines as it takes.
  void Paragraph(std::size_t p0, std::size_t p1) {
    const TextFormat pf = formats.At(p0);
    const float left = pf.left_margin + pf.block_indent + (pf.bullet ? kBulletIndent : 0);
    const float room = Width() - left - pf.right_margin;
    std::size_t i = p0;
    bool first = true;
    do {
      const float start = left + (first ? pf.indent : 0);
      const std::size_t begin = out.glyphs.size();
      float x = 0;
      std::size_t j = i;
      char32_t prev = 0;
      for (; j < p1 && out.glyphs.size() < max_glyphs; ++j) {
        const TextFormat& f = formats.At(j);
        const char32_t code = box.password ? U'*' : text.text[j];
        GlyphOutline g = fonts.Glyph(f, code);
        // A tab moves on to the paragraph's next stop (past the last one it takes no room);
        // without stops of its own a paragraph has one every 32 pixels.
        if (code == U'\t') {
          const float at = start + x;
          if (pf.tab_stops.empty()) {
            g = {nullptr, 0, (std::floor(at / kDefaultTab) + 1) * kDefaultTab - at};
          } else {
            const auto stop = std::upper_bound(pf.tab_stops.begin(), pf.tab_stops.end(), at);
            g = {nullptr, 0, stop == pf.tab_stops.end() ? 0 : *stop - at};
          }
        }
        if (f.kerning && prev) x += fonts.Kerning(f, prev, code);
        if (box.word_wrap && j > i && !IsSpace(code) && x + g.advance > room - (start - left)) {
          std::size_t k = j;
          while (k > i && !BreaksBefore(text.text, k)) --k;
          if (k > i) j = k;
          break;
        }
        out.glyphs.push_back({j, code, x, g.advance});
        x += g.advance + f.letter_spacing;
        prev = code;
      }
      // A break inside the line drops the glyphs past it; spaces where it breaks are skipped.
      while (out.glyphs.size() > begin && out.glyphs.back().index >= j) out.glyphs.pop_back();
      const std::size_t end = out.glyphs.size();
      if (j < p1 && j == i) ++j;  // not even one character fits: it takes a line of its own
      while (box.word_wrap && j < p1 && j > i && IsSpace(text.text[j])) ++j;
      Finish(begin, end, i, pf, start, room - (start - left), j >= p1);
      i = j;
      first = false;
    } while (i < p1 && out.glyphs.size() < max_glyphs);
  }

  void Finish(std::size_t begin, std::size_t end, std::size_t at, const TextFormat& pf, float start,
              float room, bool last) {
    LaidLine line{begin, end, y, 0, 0, pf.leading, 0, 0};
    const LineMetrics own = fonts.Metrics(formats.At(at));
    line.ascent = own.ascent;
    line.descent = own.descent;
    std::size_t visible = end;  // up to the trailing spaces
    while (visible > begin && IsSpace(out.glyphs[visible - 1].code)) --visible;
    for (std::size_t g = begin; g < end; ++g) {
      const LineMetrics m = fonts.Metrics(formats.At(out.glyphs[g].index));
      line.ascent = std::max(line.ascent, m.ascent);
      line.descent = std::max(line.descent, m.descent);
    }
    // A left-aligned line measures its trailing spaces too; the others align without them.
    const std::size_t measured =
        pf.align == EditText::Align::Left || box.spaces_count ? end : visible;
    if (measured > begin) {
      line.width = out.glyphs[measured - 1].x + out.glyphs[measured - 1].advance;
    }
    float shift = 0;
    const float spare = std::max(
        0.0f, room - (visible > begin ? out.glyphs[visible - 1].x + out.glyphs[visible - 1].advance
                                      : 0.0f));
    if (pf.align == EditText::Align::Center) shift = spare / 2;
    if (pf.align == EditText::Align::Right) shift = spare;
    std::size_t spaces = 0;
    if (pf.align == EditText::Align::Justify && !last) {
      for (std::size_t g = begin; g < visible; ++g) spaces += IsSpace(out.glyphs[g].code);
    }
    float spread = 0;
    for (std::size_t g = begin; g < end; ++g) {
      out.glyphs[g].x += kGutter + start + shift + spread;
      if (spaces && g < visible && IsSpace(out.glyphs[g].code)) spread += spare / float(spaces);
    }
    line.left = kGutter + start + shift;
    out.text_width = std::max(out.text_width, line.width + start + pf.right_margin);
    out.lines.push_back(line);
    y += line.ascent + line.descent + line.leading;
  }
};

std::uint16_t FillOf(Shape& out, Rgba color) {
  for (std::size_t i = 0; i < out.fills.size(); ++i) {
    if (const auto* c = std::get_if<Rgba>(&out.fills[i]); c && *c == color) {
      return std::uint16_t(i + 1);
    }
  }
  if (out.fills.size() >= 0xFFFF) return std::uint16_t(out.fills.size());
  out.fills.emplace_back(color);
  return std::uint16_t(out.fills.size());
}

}  // namespace

TextLayout LayOut(const StyledText& text, const LayoutBox& box, GlyphSource& fonts,
                  std::size_t max_glyphs) {
  Lines lines{text, box, fonts, max_glyphs, {}};
  const std::u32string& t = text.text;
  std::size_t p0 = 0;
  while (true) {
    std::size_t p1 = box.multiline ? t.find(U'\n', p0) : std::u32string::npos;
    if (p1 == std::u32string::npos) p1 = t.size();
    lines.Paragraph(p0, p1);
    if (p1 >= t.size() || lines.out.glyphs.size() >= max_glyphs) break;
    p0 = p1 + 1;
  }
  TextLayout out = std::move(lines.out);
  if (!out.lines.empty() && !t.empty()) {  // no text takes no height
    const LaidLine& last = out.lines.back();
    // The last line's leading counts only when it is the only line.
    out.text_height = last.top + last.ascent + last.descent - kGutter;
    if (out.lines.size() == 1) out.text_height += last.leading;
  }
  return out;
}

std::size_t LinesInView(const TextLayout& layout, const LayoutBox& box, std::size_t scroll) {
  const float height = box.bounds.y_max - box.bounds.y_min - 2 * kGutter;
  if (scroll >= layout.lines.size()) return 1;
  const float top = layout.lines[scroll].top;
  std::size_t n = 0;
  for (std::size_t i = scroll; i < layout.lines.size(); ++i) {
    const LaidLine& l = layout.lines[i];
    if (n > 0 && l.top - top + l.ascent + l.descent > height) break;
    ++n;
  }
  return std::max<std::size_t>(n, 1);
}

void AddRectangle(Shape& out, const Rect& r, std::uint16_t fill, std::uint16_t line) {
  const Point corners[] = {
      {r.x_min, r.y_min}, {r.x_max, r.y_min}, {r.x_max, r.y_max}, {r.x_min, r.y_max}};
  for (int i = 0; i < 4; ++i) {
    const Point a = corners[i], b = corners[(i + 1) % 4];
    out.edges.push_back({a, {(a.x + b.x) / 2, (a.y + b.y) / 2}, b, false, 0, fill, line});
  }
}

void DrawLayout(const TextLayout& layout, const StyledText& text, const LayoutBox& box,
                GlyphSource& fonts, std::size_t scroll, float hscroll, Shape& out,
                Selection selected) {
  out = Shape{};
  out.bounds = box.bounds;
  if (scroll >= layout.lines.size()) return;
  const float height = box.bounds.y_max - box.bounds.y_min;
  const float dy = kGutter - layout.lines[scroll].top;
  Formats formats(text);
  const auto place = [&out](const GlyphOutline& g, float x, float baseline, std::uint16_t fill) {
    if (!g.shape) return;
    const Matrix m{g.scale, 0, 0, g.scale, x, baseline};
    for (const Edge& e : g.shape->edges) out.edges.push_back(PlaceGlyphEdge(e, m, fill));
  };
  for (std::size_t l = scroll; l < layout.lines.size(); ++l) {
    const LaidLine& line = layout.lines[l];
    if (line.top + dy >= height) break;
    const float baseline = box.bounds.y_min + line.top + dy + line.ascent;
    for (std::size_t gi = line.begin; gi < line.end; ++gi) {
      const LaidGlyph& lg = layout.glyphs[gi];
      const TextFormat& f = formats.At(lg.index);
      const float x = box.bounds.x_min + lg.x - hscroll;
      std::uint16_t fill = FillOf(out, f.color);
      if (lg.index >= selected.begin && lg.index < selected.end) {
        // Selected: the glyph's cell in the text's colour, the glyph in the inverse.
        const float top = box.bounds.y_min + line.top + dy;
        AddRectangle(out,
                     {x, x + lg.advance + f.letter_spacing, top, top + line.ascent + line.descent},
                     fill, 0);
        fill = FillOf(out, {std::uint8_t(255 - f.color.r), std::uint8_t(255 - f.color.g),
                            std::uint8_t(255 - f.color.b), f.color.a});
      }
      if (f.underline) {
        const float thick = std::max(20.0f, f.size / 20);
        AddRectangle(out,
                     {x, x + lg.advance + f.letter_spacing, baseline + thick, baseline + 2 * thick},
                     fill, 0);
      }
      // A list item's bullet, left of its first line.
      if (f.bullet && gi == line.begin && (lg.index == 0 || text.text[lg.index - 1] == U'\n')) {
        const float at = box.bounds.x_min + kGutter + f.left_margin + f.block_indent + kBulletAt;
        place(fonts.Glyph(f, U'\u2022'), at - hscroll, baseline, fill);
      }
      place(fonts.Glyph(f, lg.code), x, baseline, fill);
    }
  }
}

}  // namespace swf
