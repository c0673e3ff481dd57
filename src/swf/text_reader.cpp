// Text fields and what they need of fonts: DefineEditText, the code table and layout of
// DefineFont2/3, DefineFontInfo.
#include <algorithm>
#include <bit>
#include <memory>

#include "swf/reader_parts.h"

namespace swf {
namespace {

// Code points of a code table: wide (16-bit) or 8-bit codes.
std::vector<char32_t> ReadCodes(ByteReader& r, std::size_t count, bool wide, LoadContext& ctx) {
  std::vector<char32_t> codes;
  if (!ctx.Charge(count * sizeof(char32_t))) return codes;
  codes.reserve(count);
  for (std::size_t i = 0; i < count && r.ok(); ++i) codes.push_back(wide ? r.U16() : r.U8());
  if (!r.ok()) codes.resize(codes.empty() ? 0 : codes.size() - 1);
  return codes;
}

// A tag that adds to a character read before it: the dictionary takes a copy of the character
// (those already placed keep the old one), and the caller fills it in. Null when the id names no
// character of that kind.
template <class T>
std::shared_ptr<T> CopyToChange(std::uint16_t id, LoadContext& ctx) {
  const auto it = ctx.movie.dictionary.find(id);
  if (it == ctx.movie.dictionary.end()) return nullptr;
  const auto* old = std::get_if<std::shared_ptr<const T>>(&it->second);
  if (!old || !ctx.Charge(sizeof(T))) return nullptr;
  auto copy = std::make_shared<T>(**old);
  it->second = std::shared_ptr<const T>(copy);
  return copy;
}

}  // namespace

std::string FontName(std::span<const std::uint8_t> bytes) {
  std::string name(bytes.begin(), bytes.end());
  if (const auto nul = name.find('\0'); nul != std::string::npos) name.resize(nul);
  return name;
}

void ApplyCodePage(Font& font, bool shift_jis, LoadContext& ctx) {
  if (ctx.movie.header.version > 5) return;
  const CodePage page = shift_jis ? CodePage::ShiftJis : CodePage::Windows1252;
  if (shift_jis) ctx.movie.code_page = page;
  font.name = CodePageToUtf8(font.name, page);
  for (char32_t& c : font.codes) c = CodePageChar(std::uint16_t(c), page);
}

std::string FileString(std::string_view raw, const LoadContext& ctx) {
  if (ctx.movie.header.version > 5) return std::string(raw);
  return CodePageToUtf8(raw, ctx.movie.code_page);
}

void ReadFontLayout(ByteReader& after_offsets, ByteReader whole, std::size_t table_at,
                    std::uint8_t flags, Font& font, LoadContext& ctx) {
  const bool wide_offsets = (flags & 0x08) != 0;
  const bool wide_codes = (flags & 0x04) != 0 || font.em > 1024;
  const std::size_t count = font.glyphs.size();
  // A font of the system's has no code table; files differ on whether its offset is written.
  if (count == 0) return;
  const std::size_t code_at = table_at + (wide_offsets ? after_offsets.U32() : after_offsets.U16());
  if (!after_offsets.ok() || code_at < whole.position() ||
      code_at - whole.position() > whole.remaining()) {
    return;
  }
  ByteReader r = whole;
  r.Skip(code_at - r.position());
  font.codes = ReadCodes(r, count, wide_codes, ctx);
  if (!(flags & 0x80) || !r.ok()) return;
  font.ascent = r.U16();
  font.descent = r.U16();
  font.leading = r.S16();
  if (!ctx.Charge(count * sizeof(float))) return;
  std::vector<float> advances;
  advances.reserve(count);
  for (std::size_t i = 0; i < count && r.ok(); ++i) advances.push_back(r.S16());
  for (std::size_t i = 0; i < count && r.ok(); ++i) static_cast<void>(r.ReadRect());
  if (!r.ok()) return;
  font.advances = std::move(advances);
  const std::size_t pairs = r.U16();
  if (!r.ok() || !ctx.Charge(pairs * sizeof(KerningPair))) return;
  font.kerning.reserve(pairs);
  for (std::size_t i = 0; i < pairs; ++i) {
    KerningPair k;
    k.left = wide_codes ? r.U16() : r.U8();
    k.right = wide_codes ? r.U16() : r.U8();
    k.adjust = r.S16();
    if (!r.ok()) break;
    font.kerning.push_back(k);
  }
  std::sort(font.kerning.begin(), font.kerning.end(),
            [](const KerningPair& a, const KerningPair& b) {
              return std::pair(a.left, a.right) < std::pair(b.left, b.right);
            });
}

void ReadDefineFontInfo(ByteReader& r, TagCode code, LoadContext& ctx) {
  const std::uint16_t id = r.U16();
  const auto name = r.Bytes(r.U8());
  const std::uint8_t flags = r.U8();
  if (code == TagCode::DefineFontInfo2) r.Skip(1);  // language
  if (!r.ok()) return;
  // The font was read before its info: a copy with the info takes its place.
  const std::shared_ptr<Font> font = CopyToChange<Font>(id, ctx);
  if (!font) return;
  font->name = FontName(name);
  font->bold = (flags & 0x02) != 0;
  font->italic = (flags & 0x04) != 0;
  font->codes = ReadCodes(r, font->glyphs.size(), (flags & 0x01) != 0, ctx);
  ApplyCodePage(*font, (flags & 0x10) != 0, ctx);
}

std::optional<EditText> ReadDefineEditText(ByteReader& r, LoadContext& ctx) {
  EditText t;
  t.bounds = r.ReadRect();
  const std::uint8_t a = r.U8();
  const std::uint8_t b = r.U8();
  const bool has_text = (a & 0x80) != 0;
  t.word_wrap = (a & 0x40) != 0;
  t.multiline = (a & 0x20) != 0;
  t.password = (a & 0x10) != 0;
  t.read_only = (a & 0x08) != 0;
  const bool has_color = (a & 0x04) != 0;
  const bool has_max_length = (a & 0x02) != 0;
  const bool has_font = (a & 0x01) != 0;
  const bool has_font_class = (b & 0x80) != 0;
  t.auto_size = (b & 0x40) != 0;
  const bool has_layout = (b & 0x20) != 0;
  t.no_select = (b & 0x10) != 0;
  t.border = (b & 0x08) != 0;
  t.background = t.border;
  t.html = (b & 0x02) != 0;
  t.use_outlines = (b & 0x01) != 0;
  if (has_font) t.font = r.U16();
  if (has_font_class) t.font_class = r.String();
  if (has_font || has_font_class) t.height = r.U16();
  if (has_color) t.color = r.ReadRgba();
  if (has_max_length) t.max_length = r.U16();
  if (has_layout) {
    const std::uint8_t align = r.U8();
    t.align = align <= 3 ? EditText::Align(align) : EditText::Align::Left;
    t.left_margin = r.U16();
    t.right_margin = r.U16();
    t.indent = r.S16();
    t.leading = r.S16();
  }
  t.auto_size_side = t.align == EditText::Align::Justify ? EditText::Align::Left : t.align;
  t.variable = FileString(r.String(), ctx);
  if (has_text) t.initial_text = FileString(r.String(), ctx);
  if (!r.ok()) return std::nullopt;
  if (!ctx.Charge(sizeof(EditText) + t.variable.size() + t.initial_text.size() +
                  t.font_class.size())) {
    return std::nullopt;
  }
  return t;
}

void ReadCsmTextSettings(ByteReader& r, LoadContext& ctx) {
  const std::uint16_t id = r.U16();
  const std::uint32_t use_flash_type = r.UB(2);
  const std::uint32_t grid_fit = r.UB(3);
  r.Align();
  const float thickness = std::bit_cast<float>(r.U32());
  const float sharpness = std::bit_cast<float>(r.U32());
  if (!r.ok()) return;
  // The field was read before its settings: a copy with them takes its place.
  const std::shared_ptr<EditText> t = CopyToChange<EditText>(id, ctx);
  if (!t) return;
  t->advanced = use_flash_type == 1;
  t->grid_fit = std::uint8_t(std::min<std::uint32_t>(grid_fit, 2));
  t->thickness = thickness;
  t->sharpness = sharpness;
}

}  // namespace swf
