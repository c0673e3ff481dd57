#include "swf/text/text_field.h"

#include <algorithm>
#include <cmath>

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
    return {f.ascent * format.size / f.em, f.descent * format.size / f.em};
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
  return {m.ascent * format.size / kDeviceEm, m.descent * format.size / kDeviceEm};
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
      return {&f.glyphs[it->second], scale, advance * scale};
    }
    return {nullptr, 0, 0};  // an embedded font draws only what it embeds
  }
  const DeviceGlyph* g = Device(format, code);
  if (!g) return {nullptr, 0, code == U'\n' ? 0 : format.size / 2};
  const float scale = format.size / kDeviceEm;
  return {&g->outline, scale, g->advance * scale};
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

TextField::TextField(std::shared_ptr<const EditText> def, const Movie& movie, TextFonts& fonts)
    : def_(std::move(def)), fonts_(fonts), bounds_(def_->bounds) {
  format_.font = "Times New Roman";  // Flash's own default
  if (const Character* c = def_->font ? movie.Find(def_->font) : nullptr) {
    if (const auto* f = std::get_if<std::shared_ptr<const Font>>(c)) {
      own_ = f->get();
      format_.font = own_->name;
      format_.bold = own_->bold;
      format_.italic = own_->italic;
    }
  }
  format_.size = def_->height;
  format_.color = def_->color;
  format_.align = def_->align;
  format_.left_margin = def_->left_margin;
  format_.right_margin = def_->right_margin;
  format_.indent = def_->indent;
  format_.leading = def_->leading;
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
  text_ = def_->html ? HtmlText(html, format_, kMaxChars) : PlainText(html, format_, kMaxChars);
  dirty_ = true;
}

std::string TextField::Text() const {
  std::u32string text = text_.text;
  std::replace(text.begin(), text.end(), U'\n', U'\r');  // as scripts see a paragraph's end
  return EncodeUtf8(text);
}

LayoutBox TextField::Box() const {
  return {bounds_, def_->word_wrap, def_->multiline, def_->password};
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
      if (def_->align == EditText::Align::Right) {
        bounds_.x_min = bounds_.x_max - width;
      } else if (def_->align == EditText::Align::Center) {
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
  m.text_width = layout_.text_width;
  m.text_height = layout_.text_height;
  m.lines = int(layout_.lines.size());
  m.scroll = int(scroll_) + 1;
  // The last scroll that still fills the box: the top line from which the rest fits.
  std::size_t top = layout_.lines.size() - 1;
  while (top > 0 && LinesInView(layout_, Box(), top - 1) >= layout_.lines.size() - (top - 1)) {
    --top;
  }
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

bool TextField::Clips() {
  Update();
  return scroll_ > 0 || hscroll_ > 0 ||
         layout_.text_width + 2 * kGutter > bounds_.x_max - bounds_.x_min ||
         layout_.text_height + 2 * kGutter > bounds_.y_max - bounds_.y_min;
}

const Shape& TextField::Frame() {
  Update();
  frame_ = Shape{};
  if (!def_->border) return frame_;
  frame_.bounds = bounds_;
  frame_.fills.emplace_back(Rgba{255, 255, 255, 255});
  frame_.lines.push_back(LineStyle{20, Rgba{0, 0, 0, 255}});
  AddRectangle(frame_, bounds_, 1, 1);
  return frame_;
}

const Shape& TextField::Glyphs() {
  Update();
  if (!drawn_) {
    fonts_.Use(def_->use_outlines, own_);
    DrawLayout(layout_, text_, Box(), fonts_, scroll_, hscroll_, glyphs_);
    drawn_ = true;
  }
  return glyphs_;
}

}  // namespace swf
