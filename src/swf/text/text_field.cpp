#include "swf/text/text_field.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace swf {
namespace {

// Glyphs of the system kept at once: a page of a Japanese text uses a few hundred.
constexpr std::size_t kMaxDeviceGlyphs = 8192;
// A field lays out at most this many glyphs (the text beyond is not shown).
constexpr std::size_t kMaxGlyphs = TextField::kMaxChars;

DeviceFace FaceOf(const TextFormat& f) {
  return {f.font, f.bold, f.italic};
}

}  // namespace

TextFonts::TextFonts(const Movie& movie) {
  for (const auto& [id, character] : movie.dictionary) {
    const auto* font = std::get_if<std::shared_ptr<const Font>>(&character);
    if (!font || (*font)->glyphs.empty()) continue;
    Embedded e{font->get(), {}};
    const std::vector<char32_t>& codes = (*font)->codes;
    e.index.reserve(codes.size());
    for (std::size_t i = 0; i < codes.size() && i < (*font)->glyphs.size(); ++i) {
      e.index.emplace(codes[i], std::uint32_t(i));
    }
    by_name_[(*font)->name].push_back(std::move(e));
  }
}

const std::vector<const TextFonts::Embedded*>& TextFonts::Candidates(const TextFormat& format) {
  found_.clear();
  if (!embedded_) return found_;
  const auto it = by_name_.find(format.font);
  if (it == by_name_.end()) return found_;
  for (int pass = 0; pass < 3; ++pass) {
    for (const Embedded& e : it->second) {
      const bool own = e.font == own_;
      const bool style = e.font->bold == format.bold && e.font->italic == format.italic;
      if ((pass == 0 && own && style) || (pass == 1 && !own && style) || (pass == 2 && !style)) {
        found_.push_back(&e);
      }
    }
  }
  return found_;
}

const DeviceGlyph* TextFonts::Device(const TextFormat& format, char32_t code) {
  if (!device_) return nullptr;
  auto key = std::pair(FaceOf(format), code);
  auto it = glyphs_.find(key);
  if (it == glyphs_.end()) {
    if (glyphs_.size() >= kMaxDeviceGlyphs) glyphs_.clear();
    it = glyphs_.emplace(std::move(key), device_->Glyph(FaceOf(format), code)).first;
  }
  return it->second ? &*it->second : nullptr;
}

LineMetrics TextFonts::Metrics(const TextFormat& format) {
  const auto& fonts = Candidates(format);
  if (!fonts.empty()) {
    const Font& f = *fonts.front()->font;
    if (f.advances.empty() || f.ascent + f.descent <= 0) {
      return {format.size * 0.8f, format.size * 0.2f};
    }
    return {std::trunc(f.ascent * format.size / f.em), std::trunc(f.descent * format.size / f.em)};
  }
  DeviceFontMetrics m;
  if (device_) {
    const DeviceFace face = FaceOf(format);
    auto it = metrics_.find(face);
    if (it == metrics_.end()) {
      if (metrics_.size() >= 256) metrics_.clear();
      it = metrics_.emplace(face, device_->Metrics(face)).first;
    }
    m = it->second;
  }
  return {std::trunc(m.ascent * format.size / kDeviceEm),
          std::trunc(m.descent * format.size / kDeviceEm)};
}

GlyphOutline TextFonts::Glyph(const TextFormat& format, char32_t code) {
  const auto& fonts = Candidates(format);
  if (!fonts.empty()) {
    for (const Embedded* e : fonts) {
      const auto it = e->index.find(code);
      if (it == e->index.end()) continue;
      const Font& f = *e->font;
      const float scale = format.size / f.em;
      const float advance = it->second < f.advances.size() ? f.advances[it->second]
                                                           : f.glyphs[it->second].bounds.x_max;
      return {&f.glyphs[it->second], scale, std::trunc(advance * scale)};
    }
    return {nullptr, 0, 0};  // an embedded font draws only what it embeds
  }
  const DeviceGlyph* g = Device(format, code);
  if (!g) return {nullptr, 0, code == U'\n' ? 0 : format.size / 2};
  const float scale = format.size / kDeviceEm;
  return {&g->outline, scale, std::trunc(g->advance * scale)};
}

float TextFonts::Kerning(const TextFormat& format, char32_t left, char32_t right) {
  const auto& fonts = Candidates(format);
  if (fonts.empty()) return 0;
  const Font& f = *fonts.front()->font;
  const auto it =
      std::lower_bound(f.kerning.begin(), f.kerning.end(), std::pair(left, right),
                       [](const KerningPair& k, const std::pair<char32_t, char32_t>& p) {
                         return std::pair(k.left, k.right) < p;
                       });
  if (it == f.kerning.end() || it->left != left || it->right != right) return 0;
  return it->adjust * format.size / f.em;
}

TextExtent MeasureExtent(TextFonts& fonts, const TextFormat& format, std::string_view utf8,
                         std::optional<float> wrap) {
  constexpr std::size_t kMaxMeasured = 1 << 16;
  fonts.Use(false, nullptr);
  LayoutBox box;
  box.bounds = {0, wrap ? std::max(0.0f, *wrap) : 1e9f, 0, 1e9f};
  box.word_wrap = wrap.has_value();
  box.multiline = true;
  const StyledText text = PlainText(utf8, format, kMaxMeasured);
  const TextLayout layout = LayOut(text, box, fonts, kMaxMeasured);
  const LineMetrics m = fonts.Metrics(format);
  TextExtent e;
  e.ascent = std::round(m.ascent / 20);
  e.descent = std::round(m.descent / 20);
  e.width = std::floor(layout.text_width / 20);
  e.height = double(layout.lines.size()) * (e.ascent + e.descent);
  return e;
}

TextField::TextField(std::shared_ptr<const EditText> def, const Movie& movie, TextFonts& fonts)
    : def_(std::move(def)), fonts_(fonts), version_(movie.header.version), bounds_(def_->bounds) {
  format_.font = "Times New Roman";  // Flash's own default
  if (const Character* c = def_->font ? movie.Find(def_->font) : nullptr) {
    if (const auto* f = std::get_if<std::shared_ptr<const Font>>(c)) {
      own_ = f->get();
      format_.font = own_->name;
      // HTML gives its own <b> and <i>; plain text takes the style of the tag's font.
      format_.bold = own_->bold && !def_->html;
      format_.italic = own_->italic && !def_->html;
    }
  }
  format_.size = def_->height;
  format_.color = def_->color;
  format_.align = def_->align;
  format_.left_margin = def_->left_margin;
  format_.right_margin = def_->right_margin;
  format_.indent = def_->indent;
  format_.leading = def_->leading;
  // An HTML field ignores the tag's alignment, unless a movie of Flash 8 or later gives it text.
  if (def_->html && (version_ < 8 || def_->initial_text.empty())) {
    format_.align = EditText::Align::Left;
  }
  if (def_->html) {
    SetHtmlText(def_->initial_text);
  } else {
    SetText(def_->initial_text);
  }
}

void TextField::SetText(std::string_view utf8) {
  text_ = PlainText(utf8, format_, kMaxChars);
  dirty_ = true;
}

void TextField::SetHtmlText(std::string_view html) {
  // Before Flash 8, HTML text starts from the left whatever the field's alignment.
  if (def_->html && version_ < 8) format_.align = EditText::Align::Left;
  text_ = def_->html ? swf::HtmlText(html, format_, kMaxChars, def_->multiline || version_ <= 6,
                                     version_ >= 8)
                     : PlainText(html, format_, kMaxChars);
  dirty_ = true;
}

std::string TextField::Text() const {
  std::u32string text = text_.text;
  std::replace(text.begin(), text.end(), U'\n', U'\r');  // as scripts see a paragraph's end
  return EncodeUtf8(text);
}

LayoutBox TextField::Box() const {
  return {bounds_, def_->word_wrap, def_->multiline, def_->password, version_ < 8};
}

void TextField::Update() {
  if (!dirty_) return;
  dirty_ = false;
  drawn_ = false;
  fonts_.Use(def_->use_outlines, own_);
  bounds_ = def_->bounds;
  layout_ = LayOut(text_, Box(), fonts_, kMaxGlyphs);
  if (def_->auto_size) {
    // The box grows (or shrinks) to the text: down from its top, and sideways from the side the
    // text is aligned to when lines don't wrap.
    bounds_.y_max = bounds_.y_min + layout_.text_height + 2 * kGutter;
    if (!def_->word_wrap) {
      const float width = layout_.text_width + 2 * kGutter;
      const float old = bounds_.x_max - bounds_.x_min;
      if (def_->auto_size_side == EditText::Align::Right) {
        bounds_.x_min = bounds_.x_max - width;
      } else if (def_->auto_size_side == EditText::Align::Center) {
        bounds_.x_min += (old - width) / 2;
        bounds_.x_max = bounds_.x_min + width;
      } else {
        bounds_.x_max = bounds_.x_min + width;
      }
      if (width != old) layout_ = LayOut(text_, Box(), fonts_, kMaxGlyphs);
    }
  }
  scroll_ = std::min(scroll_, layout_.lines.size() - 1);
}

void TextField::SetScroll(int line) {
  Update();
  const int max = Metrics().max_scroll;
  scroll_ = std::size_t(std::clamp(line, 1, max) - 1);
  drawn_ = false;
}

void TextField::SetHScroll(float twips) {
  Update();
  hscroll_ = std::isfinite(twips) ? std::clamp(twips, 0.0f, Metrics().max_hscroll) : 0;
  drawn_ = false;
}

TextFieldMetrics TextField::Metrics() {
  Update();
  TextFieldMetrics m;
  // Scripts see whole pixels, the twips beyond dropped.
  m.text_width = std::floor(layout_.text_width / 20) * 20;
  m.text_height = std::floor(layout_.text_height / 20) * 20;
  m.lines = int(layout_.lines.size());
  m.scroll = int(scroll_) + 1;
  // The last scroll that still fills the box: the top line from which the rest fits. The empty
  // line after a last paragraph's end doesn't count.
  std::size_t count = layout_.lines.size();
  if (count > 1 && !text_.text.empty() && text_.text.back() == U'\n') --count;
  std::size_t top = count - 1;
  while (top > 0 && LinesInView(layout_, Box(), top - 1) >= count - (top - 1)) --top;
  m.max_scroll = int(top) + 1;
  m.bottom_scroll = int(scroll_ + LinesInView(layout_, Box(), scroll_));
  m.hscroll = hscroll_;
  m.max_hscroll =
      std::max(0.0f, layout_.text_width - (bounds_.x_max - bounds_.x_min - 2 * kGutter));
  m.bounds = bounds_;
  return m;
}

Rect TextField::Bounds() {
  Update();
  return bounds_;
}

float TextField::AutoSizeShift() {
  Update();
  return bounds_.x_min - def_->bounds.x_min;
}

bool TextField::Clips() {
  Update();
  return scroll_ > 0 || hscroll_ > 0 ||
         layout_.text_width + 2 * kGutter > bounds_.x_max - bounds_.x_min ||
         layout_.text_height + 2 * kGutter > bounds_.y_max - bounds_.y_min;
}

const TextFormat* TextField::LinkAt(Point p) {
  Update();
  if (scroll_ >= layout_.lines.size()) return nullptr;
  // As DrawLayout places the lines in view.
  const float dy = kGutter - layout_.lines[scroll_].top;
  const float y = p.y - bounds_.y_min;
  const float x = p.x - bounds_.x_min + hscroll_;
  if (y < 0 || y > bounds_.y_max - bounds_.y_min) return nullptr;
  for (std::size_t l = scroll_; l < layout_.lines.size(); ++l) {
    const LaidLine& line = layout_.lines[l];
    const float top = line.top + dy;
    if (y < top) break;
    if (y >= top + line.ascent + line.descent + line.leading) continue;
    for (std::size_t g = line.begin; g < line.end; ++g) {
      const LaidGlyph& lg = layout_.glyphs[g];
      if (x < lg.x || x >= lg.x + lg.advance) continue;
      const TextFormat& f = text_.FormatAt(lg.index);
      return f.url.empty() ? nullptr : &f;
    }
    break;
  }
  return nullptr;
}

const Shape& TextField::Frame() {
  Update();
  frame_ = Shape{};
  if (!def_->border && !def_->background) return frame_;
  frame_.bounds = bounds_;
  if (def_->background) frame_.fills.emplace_back(def_->background_color);
  // Made in place: GCC 12 warns of the variant's moved-from gradient otherwise.
  if (def_->border) frame_.lines.emplace_back().fill = def_->border_color;
  AddRectangle(frame_, bounds_, def_->background ? 1 : 0, def_->border ? 1 : 0);
  return frame_;
}

const Shape& TextField::Glyphs() {
  Update();
  if (!drawn_) {
    fonts_.Use(def_->use_outlines, own_);
    DrawLayout(layout_, text_, Box(), fonts_, scroll_, hscroll_, glyphs_, shown_);
    drawn_ = true;
  }
  return glyphs_;
}

}  // namespace swf

namespace swf {

FormatChange FormatChange::Of(const TextFormat& f) {
  FormatChange c;
  c.font = f.font;
  c.size = f.size;
  c.color = f.color;
  c.bold = f.bold;
  c.italic = f.italic;
  c.underline = f.underline;
  c.kerning = f.kerning;
  c.bullet = f.bullet;
  c.letter_spacing = f.letter_spacing;
  c.align = f.align;
  c.left_margin = f.left_margin;
  c.right_margin = f.right_margin;
  c.indent = f.indent;
  c.block_indent = f.block_indent;
  c.leading = f.leading;
  c.tab_stops = f.tab_stops;
  c.url = f.url;
  c.target = f.target;
  return c;
}

namespace {
template <typename T>
void Keep(std::optional<T>& part, const T& value) {
  if (part && !(*part == value)) part.reset();
}
template <typename T>
void Put(const std::optional<T>& part, T& value) {
  if (part) value = *part;
}
}  // namespace

void FormatChange::Meet(const TextFormat& f) {
  Keep(font, f.font);
  Keep(size, f.size);
  Keep(color, f.color);
  Keep(bold, f.bold);
  Keep(italic, f.italic);
  Keep(underline, f.underline);
  Keep(kerning, f.kerning);
  Keep(bullet, f.bullet);
  Keep(letter_spacing, f.letter_spacing);
  Keep(align, f.align);
  Keep(left_margin, f.left_margin);
  Keep(right_margin, f.right_margin);
  Keep(indent, f.indent);
  Keep(block_indent, f.block_indent);
  Keep(leading, f.leading);
  Keep(tab_stops, f.tab_stops);
  Keep(url, f.url);
  Keep(target, f.target);
}

void FormatChange::ApplyTo(TextFormat& f) const {
  Put(font, f.font);
  Put(size, f.size);
  Put(color, f.color);
  Put(bold, f.bold);
  Put(italic, f.italic);
  Put(underline, f.underline);
  Put(kerning, f.kerning);
  Put(bullet, f.bullet);
  Put(letter_spacing, f.letter_spacing);
  Put(align, f.align);
  Put(left_margin, f.left_margin);
  Put(right_margin, f.right_margin);
  Put(indent, f.indent);
  Put(block_indent, f.block_indent);
  Put(leading, f.leading);
  Put(tab_stops, f.tab_stops);
  Put(url, f.url);
  Put(target, f.target);
}

EditText& TextField::Edit() {
  if (!own_def_) {
    own_def_ = std::make_shared<EditText>(*def_);
    def_ = own_def_;
  }
  dirty_ = true;
  return *own_def_;
}

FormatChange TextField::FormatOf(std::size_t begin, std::size_t end) const {
  end = std::min(end, text_.text.size());
  if (begin >= end) return {};
  FormatChange c = FormatChange::Of(text_.FormatAt(begin));
  std::size_t start = 0;
  for (const TextRun& run : text_.runs) {
    if (run.end > begin && start < end) c.Meet(run.format);
    start = run.end;
  }
  return c;
}

void TextField::ApplyFormat(std::size_t begin, std::size_t end, const FormatChange& change) {
  end = std::min(end, text_.text.size());
  if (begin >= end) return;
  // Split the runs at both ends, then change those between.
  std::vector<TextRun> runs;
  std::size_t start = 0;
  for (const TextRun& run : text_.runs) {
    for (const std::size_t cut : {begin, end}) {
      if (cut > start && cut < run.end) {
        runs.push_back({cut, run.format});
        start = cut;
      }
    }
    runs.push_back(run);
    start = run.end;
  }
  start = 0;
  for (TextRun& run : runs) {
    if (start >= begin && run.end <= end) change.ApplyTo(run.format);
    start = run.end;
  }
  // Neighbours alike become one run again.
  text_.runs.clear();
  for (TextRun& run : runs) {
    if (!text_.runs.empty() && text_.runs.back().format == run.format) {
      text_.runs.back().end = run.end;
    } else {
      text_.runs.push_back(std::move(run));
    }
  }
  dirty_ = true;
}

void TextField::Replace(std::size_t begin, std::size_t end, std::string_view utf8) {
  end = std::min(end, text_.text.size());
  begin = std::min(begin, end);
  StyledText out;
  const std::u32string inserted = DecodeUtf8(utf8, kMaxChars);
  std::size_t start = 0;
  for (const TextRun& run : text_.runs) {
    const std::size_t stop = std::min(run.end, begin);
    if (stop > start) {
      out.Append(std::u32string_view(text_.text).substr(start, stop - start), run.format,
                 kMaxChars);
    }
    start = run.end;
  }
  out.Append(inserted, format_, kMaxChars);
  start = 0;
  for (const TextRun& run : text_.runs) {
    const std::size_t from = std::max(start, end);
    if (run.end > from) {
      out.Append(std::u32string_view(text_.text).substr(from, run.end - from), run.format,
                 kMaxChars);
    }
    start = run.end;
  }
  text_ = std::move(out);
  dirty_ = true;
}

namespace {
std::string Escaped(std::u32string_view text) {
  std::string out;
  for (const char32_t c : text) {
    switch (c) {
      case U'&':
        out += "&amp;";
        break;
      case U'<':
        out += "&lt;";
        break;
      case U'>':
        out += "&gt;";
        break;
      case U'"':
        out += "&quot;";
        break;
      case U'\'':
        out += "&apos;";
        break;
      default:
        out += EncodeUtf8(std::u32string_view(&c, 1));
    }
  }
  return out;
}
std::string Twips(float v) {
  const double px = std::round(double(v) / 20 * 100) / 100;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", px);
  return buf;
}
std::string Hex(Rgba c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "#%02X%02X%02X", c.r, c.g, c.b);
  return buf;
}
std::string UpperAlignName(EditText::Align a) {
  std::string name = AlignName(a);
  for (char& c : name) c = char(c - 'a' + 'A');
  return name;
}
// The FONT attributes of `f` that differ from `base` (all without a base).
std::string FontAttributes(const TextFormat& f, const TextFormat* base) {
  std::string out;
  if (!base || base->font != f.font) out += " FACE=\"" + Escaped(DecodeUtf8(f.font, 256)) + "\"";
  if (!base || base->size != f.size) out += " SIZE=\"" + Twips(f.size) + "\"";
  if (!base || !(base->color == f.color)) out += " COLOR=\"" + Hex(f.color) + "\"";
  if (!base || base->letter_spacing != f.letter_spacing) {
    out += " LETTERSPACING=\"" + Twips(f.letter_spacing) + "\"";
  }
  if (!base || base->kerning != f.kerning) out += f.kerning ? " KERNING=\"1\"" : " KERNING=\"0\"";
  return out;
}
bool SameCharacters(const TextFormat& a, const TextFormat& b) {
  return FontAttributes(a, &b).empty() && a.bold == b.bold && a.italic == b.italic &&
         a.underline == b.underline && a.url == b.url && a.target == b.target;
}
}  // namespace

std::string TextField::HtmlText() const {
  std::string out;
  const std::u32string& text = text_.text;
  if (text.empty()) return out;
  std::size_t begin = 0;
  while (true) {
    std::size_t end = text.find(U'\n', begin);
    if (end == std::u32string::npos) end = text.size();
    const TextFormat& p = text_.FormatAt(begin);
    // The paragraph's layout, when any of it is set.
    std::string layout;
    if (p.left_margin != 0) layout += " LEFTMARGIN=\"" + Twips(p.left_margin) + "\"";
    if (p.right_margin != 0) layout += " RIGHTMARGIN=\"" + Twips(p.right_margin) + "\"";
    if (p.indent != 0) layout += " INDENT=\"" + Twips(p.indent) + "\"";
    if (p.block_indent != 0) layout += " BLOCKINDENT=\"" + Twips(p.block_indent) + "\"";
    if (p.leading != 0) layout += " LEADING=\"" + Twips(p.leading) + "\"";
    if (!p.tab_stops.empty()) {
      std::string stops;
      for (const float s : p.tab_stops) {
        if (!stops.empty()) stops += ',';
        stops += Twips(s);
      }
      layout += " TABSTOPS=\"" + stops + "\"";
    }
    if (!layout.empty()) out += "<TEXTFORMAT" + layout + ">";
    out += p.bullet ? "<LI>" : std::string("<P ALIGN=\"") + UpperAlignName(p.align) + "\">";
    out += "<FONT" + FontAttributes(p, nullptr) + ">";
    // Flash nests FONT tags: a run goes back out to the innermost one that is already its
    // format, or else opens one more inside with what differs from the innermost.
    std::vector<const TextFormat*> fonts{&p};
    std::size_t start = 0;
    const TextFormat* last = nullptr;
    std::string close;
    for (const TextRun& run : text_.runs) {
      // The paragraph's end isn't written, but its format is (an empty FONT where it differs).
      const std::size_t a = std::max(start, begin), b = std::min(run.end, end + 1);
      start = run.end;
      if (a >= b) continue;
      const TextFormat& f = run.format;
      const std::string escaped =
          Escaped(std::u32string_view(text).substr(a, std::min(b, end) - std::min(a, end)));
      // Runs apart only in the paragraph's layout (which the paragraph's start sets) run on.
      if (last && SameCharacters(*last, f)) {
        out += escaped;
        continue;
      }
      out += close;
      close.clear();
      last = &f;
      for (std::size_t k = fonts.size(); k-- > 0;) {
        if (!FontAttributes(f, fonts[k]).empty()) continue;
        for (; fonts.size() > k + 1; fonts.pop_back()) out += "</FONT>";
        break;
      }
      const std::string font = FontAttributes(f, fonts.back());
      if (!font.empty() && fonts.size() < 64) {
        out.append("<FONT").append(font).append(">");
        fonts.push_back(&f);
      }
      if (!f.url.empty()) {
        out.append("<A HREF=\"")
            .append(f.url)
            .append("\" TARGET=\"")
            .append(f.target)
            .append("\">");
        close.insert(0, "</A>");
      }
      if (f.bold) {
        out += "<B>";
        close.insert(0, "</B>");
      }
      if (f.italic) {
        out += "<I>";
        close.insert(0, "</I>");
      }
      if (f.underline) {
        out += "<U>";
        close.insert(0, "</U>");
      }
      out += escaped;
    }
    out += close;
    for (; fonts.size() > 1; fonts.pop_back()) out += "</FONT>";
    out += "</FONT>";
    out += p.bullet ? "</LI>" : "</P>";
    if (!layout.empty()) out += "</TEXTFORMAT>";
    // The end of the last paragraph opens none after it.
    if (end + 1 >= text.size()) break;
    begin = end + 1;
  }
  return out;
}

}  // namespace swf
