// Text fields' layout and HTML subset, with a font whose glyphs are all half an em wide.
#include <gtest/gtest.h>

#include <vector>

#include "swf/text/device_fonts.h"
#include "swf/text/styled_text.h"
#include "swf/text/text_layout.h"

namespace {

using swf::EditText;
using swf::TextFormat;

// Every glyph is a square, size/2 wide; the ascent is 80 % of the size, the descent 20 %.
class HalfEm final : public swf::GlyphSource {
 public:
  swf::LineMetrics Metrics(const TextFormat& f) override { return {f.size * 0.8f, f.size * 0.2f}; }
  swf::GlyphOutline Glyph(const TextFormat& f, char32_t) override {
    return {&square_, f.size / 1024, f.size / 2};
  }
  float Kerning(const TextFormat&, char32_t, char32_t) override { return 0; }

 private:
  swf::Shape square_ = [] {
    swf::Shape s;
    swf::AddRectangle(s, {0, 400, -600, 0}, 1, 0);
    return s;
  }();
};

struct LayoutCase {
  const char* name;
  const char* text;
  bool html = false;
  bool wrap = false;
  float width = 1000;  // inside the gutters; the font is 200 twips, glyphs 100 wide
  TextFormat format;
  std::vector<float> xs;    // each glyph's x from the box's left edge
  std::vector<float> tops;  // each line's top
};

TextFormat Format(EditText::Align align = EditText::Align::Left, float leading = 0,
                  float spacing = 0, float indent = 0) {
  TextFormat f;
  f.size = 200;
  f.align = align;
  f.leading = leading;
  f.letter_spacing = spacing;
  f.indent = indent;
  return f;
}

void PrintTo(const LayoutCase& c, std::ostream* os) {
  *os << c.name;
}

class Layout : public testing::TestWithParam<LayoutCase> {};

TEST_P(Layout, PlacesGlyphsAndLines) {
  const LayoutCase& c = GetParam();
  const swf::StyledText text =
      c.html ? swf::HtmlText(c.text, c.format, 1000, true) : swf::PlainText(c.text, c.format, 1000);
  const swf::LayoutBox box{{0, c.width + 2 * swf::kGutter, 0, 3000}, c.wrap, true, false};
  HalfEm font;
  const swf::TextLayout layout = swf::LayOut(text, box, font, 1000);
  std::vector<float> xs, tops;
  for (const auto& g : layout.glyphs) xs.push_back(g.x);
  for (const auto& l : layout.lines) tops.push_back(l.top);
  EXPECT_EQ(xs, c.xs);
  EXPECT_EQ(tops, c.tops);
}

// A line is 200 high (160 + 40) below the 40-twip gutter.
INSTANTIATE_TEST_SUITE_P(
    Text, Layout,
    testing::Values(
        LayoutCase{"left", "ab", false, false, 1000, Format(), {40, 140}, {40}},
        LayoutCase{
            "centre", "ab", false, false, 1000, Format(EditText::Align::Center), {440, 540}, {40}},
        LayoutCase{
            "right", "ab", false, false, 1000, Format(EditText::Align::Right), {840, 940}, {40}},
        // Five glyphs fit; the line breaks after the space, which is kept but takes no room.
        LayoutCase{"wrap_at_space",
                   "aa bb cc",
                   false,
                   true,
                   500,
                   Format(EditText::Align::Right),
                   {40, 140, 240, 340, 440, 540, 340, 440},
                   {40, 240}},
        LayoutCase{"word_longer_than_line",
                   "abcdef",
                   false,
                   true,
                   300,
                   Format(),
                   {40, 140, 240, 40, 140, 240},
                   {40, 240}},
        // Japanese breaks between any two characters, never before "。".
        LayoutCase{"japanese_wrap",
                   "日本語の文。",
                   false,
                   true,
                   500,
                   Format(),
                   {40, 140, 240, 340, 40, 140},
                   {40, 240}},
        // The spare room goes to the spaces of every line but a paragraph's last.
        LayoutCase{"justify",
                   "a b c d",
                   false,
                   true,
                   600,
                   Format(EditText::Align::Justify),
                   {40, 140, 290, 390, 540, 640, 40},
                   {40, 240}},
        LayoutCase{"leading_spacing_indent",
                   "ab\rc",
                   false,
                   false,
                   1000,
                   Format(EditText::Align::Left, 100, 20, 50),
                   {90, 210, 90},
                   {40, 340}},
        LayoutCase{"html_paragraphs",
                   "<p align=\"center\">ab</p><p align='right'>c</p>x<br>y",
                   true,
                   false,
                   1000,
                   Format(),
                   {440, 540, 940, 40, 40},
                   {40, 240, 440, 640}},
        LayoutCase{"html_textformat_font_size",
                   "<textformat leftmargin=\"5\" indent=\"2\" leading=\"10\">a<font "
                   "size=\"20\">b</font></textformat>\nc",
                   true,
                   false,
                   1000,
                   Format(),
                   {180, 280, 40},
                   {40, 640}},
        LayoutCase{"html_list_item",
                   "<li>ab</li>c",
                   true,
                   false,
                   1000,
                   Format(),
                   {400, 500, 40},
                   {40, 240}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(HtmlText, FormatsAndEntities) {
  TextFormat base;
  const swf::StyledText t = swf::HtmlText(
      "a&lt;&amp;&#65;&#x42;&nbsp;&zz; <b>b<i>i</i></b><u>u</u><font face=\"_serif\" "
      "color=\"#FF8000\" size=\"+2\">f</font></unclosed><font size=",
      base, 100);
  EXPECT_EQ(swf::EncodeUtf8(t.text), "a<&AB\xC2\xA0&zz; biuf<font size=");
  const auto at = [&](char32_t c) { return t.FormatAt(t.text.find(c)); };
  EXPECT_TRUE(at(U'b').bold);
  EXPECT_FALSE(at(U'b').italic);
  EXPECT_TRUE(at(U'i').bold && at(U'i').italic);
  EXPECT_TRUE(at(U'u').underline && !at(U'u').bold);
  EXPECT_EQ(at(U'f').font, "_serif");
  EXPECT_EQ(at(U'f').size, base.size + 40);
  EXPECT_EQ(at(U'f').color, (swf::Rgba{255, 128, 0, 255}));
  EXPECT_EQ(at(U'a'), base);
}

TEST(HtmlText, BoundedByTheLimit) {
  std::string html;
  for (int i = 0; i < 5000; ++i) html += "<b><font size=\"+1\">x";
  const swf::StyledText t = swf::HtmlText(html, TextFormat{}, 300);
  EXPECT_EQ(t.text.size(), 300u);
  EXPECT_LE(t.runs.size(), 300u);
}

TEST(FaceFor, GenericAndJapaneseNames) {
  struct Name {
    const char* name;
    swf::FaceKind kind;
    bool proportional;
  };
  const Name names[] = {
      {"_sans", swf::FaceKind::Sans, true},
      {"_typewriter", swf::FaceKind::Mono, false},
      {"MS Gothic", swf::FaceKind::Gothic, false},
      {"MS PGothic", swf::FaceKind::Gothic, true},
      {"MS UI Gothic", swf::FaceKind::Gothic, true},
      {"\xEF\xBC\xAD\xEF\xBC\xB3 \xE6\x98\x8E\xE6\x9C\x9D", swf::FaceKind::Mincho, false},
      {"\xEF\xBC\xAD\xEF\xBC\xB3 \xEF\xBC\xB0\xE6\x98\x8E\xE6\x9C\x9D", swf::FaceKind::Mincho,
       true},
      {"\x82\x6C\x82\x72 \x82\x6F\x83\x53\x83\x56\x83\x62\x83\x4E", swf::FaceKind::Gothic,
       true},  // Shift-JIS
      {"Arial", swf::FaceKind::Named, true},
  };
  for (const Name& n : names) {
    const swf::FaceMapping m = swf::FaceFor(n.name);
    EXPECT_EQ(m.kind, n.kind) << n.name;
    EXPECT_EQ(m.proportional, n.proportional) << n.name;
  }
}

}  // namespace
