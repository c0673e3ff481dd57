#pragma once
// Text fields (DefineEditText) as they play: the text a script may change, laid out with the
// movie's fonts or the system's, drawn as shapes by the one rasterizer. The script machine sets
// `text`, `htmlText` and a bound variable's text through TextField's methods.

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "swf/movie.h"
#include "swf/text/device_fonts.h"
#include "swf/text/styled_text.h"
#include "swf/text/text_layout.h"

namespace swf {

// The glyphs of a movie's fonts and the system's, shared by a player's text fields. A field
// draws with the movie's font of a format's name when the file says so (its "use outlines"
// flag) and that font has glyphs; else with the system's face of that name.
class TextFonts final : public GlyphSource {
 public:
  explicit TextFonts(const Movie& movie);
  // The platform's fonts (may be null: device text then takes room and draws nothing); they must
  // outlive this.
  void SetDevice(DeviceFonts* device) {
    device_ = device;
    glyphs_.clear();
    metrics_.clear();
  }
  // What the next layout uses: embedded fonts or not, and the field's own font first.
  void Use(bool embedded, const Font* own) {
    embedded_ = embedded;
    own_ = own;
  }

  LineMetrics Metrics(const TextFormat& format) override;
  GlyphOutline Glyph(const TextFormat& format, char32_t code) override;
  float Kerning(const TextFormat& format, char32_t left, char32_t right) override;

 private:
  struct Embedded {
    const Font* font = nullptr;
    std::unordered_map<char32_t, std::uint32_t> index;  // code point to glyph
  };
  // The movie's fonts of the format's name, the field's own first, the format's style before
  // the others; empty when the system's font is to be used.
  const std::vector<const Embedded*>& Candidates(const TextFormat& format);
  const DeviceGlyph* Device(const TextFormat& format, char32_t code);

  std::map<std::string, std::vector<Embedded>> by_name_;  // fonts with glyphs
  std::vector<const Embedded*> found_;
  DeviceFonts* device_ = nullptr;
  bool embedded_ = false;
  const Font* own_ = nullptr;
  std::map<std::pair<DeviceFace, char32_t>, std::optional<DeviceGlyph>> glyphs_;
  std::map<DeviceFace, DeviceFontMetrics> metrics_;
};

// A text field's figures, for scripts (`textWidth`, `scroll`, `maxscroll`, ...).
struct TextFieldMetrics {
  float text_width = 0;  // twips
  float text_height = 0;
  int lines = 1;
  int scroll = 1;  // the first line in view, 1-based
  int max_scroll = 1;
  int bottom_scroll = 1;  // the last line in view
  float hscroll = 0;      // twips
  float max_hscroll = 0;
  Rect bounds;  // after auto-size
};

// What TextFormat.getTextExtent measures of a text in one format, in whole pixels.
struct TextExtent {
  double ascent = 0;
  double descent = 0;
  double width = 0;
  double height = 0;
};
// `wrap` (twips, when given) is the width lines wrap at.
[[nodiscard]] TextExtent MeasureExtent(TextFonts& fonts, const TextFormat& format,
                                       std::string_view utf8, std::optional<float> wrap);

// A format as scripts' TextFormat objects carry it: each part given, or not (unset, or mixed
// over a range).
struct FormatChange {
  std::optional<std::string> font;
  std::optional<float> size;  // twips
  std::optional<Rgba> color;
  std::optional<bool> bold;
  std::optional<bool> italic;
  std::optional<bool> underline;
  std::optional<bool> kerning;
  std::optional<bool> bullet;
  std::optional<float> letter_spacing;  // twips
  std::optional<EditText::Align> align;
  std::optional<float> left_margin;  // twips
  std::optional<float> right_margin;
  std::optional<float> indent;
  std::optional<float> block_indent;
  std::optional<float> leading;
  std::optional<std::vector<float>> tab_stops;
  std::optional<std::string> url;
  std::optional<std::string> target;

  // Every part of `f` given.
  static FormatChange Of(const TextFormat& f);
  // Keeps the parts `f` has alike.
  void Meet(const TextFormat& f);
  void ApplyTo(TextFormat& f) const;
};

class TextField {
 public:
  // Text beyond this many characters is dropped, whatever a file or script gives.
  static constexpr std::size_t kMaxChars = std::size_t(1) << 18;

  // `fonts` must outlive the field. The text is the tag's initial text.
  TextField(std::shared_ptr<const EditText> def, const Movie& movie, TextFonts& fonts);

  [[nodiscard]] const EditText& definition() const { return *def_; }
  [[nodiscard]] const std::string& Variable() const { return def_->variable; }

  // `text`: plain text in the field's format. `htmlText`: HTML in an HTML field, shown as it
  // is (tags included) in a plain one, as Flash does.
  void SetText(std::string_view utf8);
  void SetHtmlText(std::string_view html);
  [[nodiscard]] std::string Text() const;
  // `scroll` (1-based, clamped to 1..max) and `hscroll` (twips, clamped to 0..max).
  void SetScroll(int line);
  void SetHScroll(float twips);
  [[nodiscard]] TextFieldMetrics Metrics();
  // The text as HTML, the way Flash writes a field's `htmlText` back.
  [[nodiscard]] std::string HtmlText() const;
  [[nodiscard]] std::size_t Length() const { return text_.text.size(); }

  // The definition as scripts change it (border, wordWrap, autoSize, ...): the field's own copy.
  EditText& Edit();
  // The format new text takes (getNewTextFormat); changing it restyles nothing.
  [[nodiscard]] const TextFormat& NewFormat() const { return format_; }
  void SetNewFormat(const FormatChange& change) { change.ApplyTo(format_); }
  // What the characters [begin, end) share; with none, nothing is set.
  [[nodiscard]] FormatChange FormatOf(std::size_t begin, std::size_t end) const;
  void ApplyFormat(std::size_t begin, std::size_t end, const FormatChange& change);
  // Replaces [begin, end) with `utf8` in the new text format.
  void Replace(std::size_t begin, std::size_t end, std::string_view utf8);
  // Moves the field's box: scripts' `_width` and `_height` resize it rather than scale it.
  void SetBounds(const Rect& r) { Edit().bounds = r; }

  // What the player draws, in the field's own twips: the background and border (empty without),
  // then the glyphs, clipped to Bounds() when Clips().
  const Shape& Frame();
  const Shape& Glyphs();
  [[nodiscard]] Rect Bounds();
  // How far auto-size moved the box's left edge (twips): scripts see it in the field's _x.
  [[nodiscard]] float AutoSizeShift();
  [[nodiscard]] bool Clips();
  // The characters shown selected (none when begin == end).
  void ShowSelection(Selection s) {
    if (s.begin == shown_.begin && s.end == shown_.end) return;
    shown_ = s;
    drawn_ = false;
  }
  // The link (url and target) of the character drawn at `p` (the field's own twips), if any.
  [[nodiscard]] const TextFormat* LinkAt(Point p);

 private:
  void Update();
  LayoutBox Box() const;

  std::shared_ptr<const EditText> def_;
  std::shared_ptr<EditText> own_def_;  // once a script changed it
  TextFonts& fonts_;
  int version_ = 0;  // the movie's
  const Font* own_ = nullptr;
  TextFormat format_;
  StyledText text_;
  std::size_t scroll_ = 0;
  float hscroll_ = 0;
  Rect bounds_;
  bool dirty_ = true;
  bool drawn_ = false;
  Selection shown_;
  TextLayout layout_;
  Shape frame_;
  Shape glyphs_;
};

}  // namespace swf
