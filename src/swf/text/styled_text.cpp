#include "swf/text/styled_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <utility>

namespace swf {
namespace {

// "\r\n" and '\r' as '\n'.
std::u32string Paragraphs(std::u32string text) {
  std::size_t out = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c == U'\r') {
      if (i + 1 < text.size() && text[i + 1] == U'\n') ++i;
      c = U'\n';
    }
    text[out++] = c;
  }
  text.resize(out);
  return text;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return out;
}

constexpr float kMaxHtmlSize = 127 * 20;  // twips

// An HTML number in pixels, as twips; `relative` values ("+2", "-1") are added to `base`.
float Pixels(std::string_view v, float base, bool relative) {
  while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
  const bool plus = !v.empty() && v.front() == '+';
  const bool minus = !v.empty() && v.front() == '-';
  if (plus) v.remove_prefix(1);
  int n = 0;
  const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
  if (ec != std::errc() || end == v.data()) return base;
  const float twips = float(std::clamp(n, -10000, 10000)) * 20;
  if (relative && (plus || minus)) return std::max(0.0f, base + twips);
  return std::max(0.0f, twips);
}

// Letter spacing: pixels, fractions and below zero too; anything else is none.
float Spacing(std::string_view v) {
  while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
  if (!v.empty() && v.front() == '+') v.remove_prefix(1);
  double n = 0;
  const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
  if (ec != std::errc() || end == v.data() || !std::isfinite(n)) return 0;
  return float(std::clamp(n, -10000.0, 10000.0) * 20);
}

// "#rrggbb": the hex digits (after any blanks) up to the first other character, the last six of
// them counting;
// anything without the '#' or a digit leaves the colour as it was.
Rgba Color(std::string_view v, Rgba base) {
  if (v.empty() || v.front() != '#') return base;
  v.remove_prefix(1);
  while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
  std::uint32_t rgb = 0;
  std::size_t digits = 0;
  for (const char c : v) {
    const int d = c >= '0' && c <= '9'   ? c - '0'
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                         : -1;
    if (d < 0) break;
    rgb = ((rgb << 4) | std::uint32_t(d)) & 0xFFFFFF;
    ++digits;
  }
  if (digits == 0) return base;
  return {std::uint8_t(rgb >> 16), std::uint8_t(rgb >> 8), std::uint8_t(rgb), base.a};
}

}  // namespace

const char* AlignName(EditText::Align a) {
  switch (a) {
    case EditText::Align::Right:
      return "right";
    case EditText::Align::Center:
      return "center";
    case EditText::Align::Justify:
      return "justify";
    default:
      return "left";
  }
}

namespace {

EditText::Align AlignOf(std::string_view v, EditText::Align base) {
  const std::string a = Lower(v);
  if (a == "left") return EditText::Align::Left;
  if (a == "right") return EditText::Align::Right;
  if (a == "center") return EditText::Align::Center;
  if (a == "justify") return EditText::Align::Justify;
  return base;
}

struct Tag {
  std::string name;
  bool closing = false;
  std::vector<std::pair<std::string, std::string>> attributes;
  [[nodiscard]] const std::string* Find(std::string_view key) const {
    for (const auto& [k, v] : attributes) {
      if (k == key) return &v;
    }
    return nullptr;
  }
};

// The inside of "<...>".
Tag ParseTag(std::string_view s) {
  Tag tag;
  std::size_t i = 0;
  const auto space = [&] {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n')) ++i;
  };
  space();
  if (i < s.size() && s[i] == '/') {
    tag.closing = true;
    ++i;
  }
  const auto word = [&] {
    const std::size_t start = i;
    while (i < s.size() && s[i] != ' ' && s[i] != '=' && s[i] != '/' && s[i] != '\t' &&
           s[i] != '\r' && s[i] != '\n') {
      ++i;
    }
    return Lower(s.substr(start, i - start));
  };
  tag.name = word();
  while (i < s.size() && tag.attributes.size() < 16) {
    space();
    if (i < s.size() && s[i] == '/') {
      ++i;
      continue;
    }
    std::string key = word();
    if (key.empty()) {
      ++i;
      continue;
    }
    space();
    std::string value;
    if (i < s.size() && s[i] == '=') {
      ++i;
      space();
      if (i < s.size() && (s[i] == '"' || s[i] == '\'')) {
        const char quote = s[i++];
        const std::size_t end = std::min(s.find(quote, i), s.size());
        value = std::string(s.substr(i, end - i));
        i = end + 1;
      } else {
        const std::size_t start = i;
        while (i < s.size() && s[i] != ' ') ++i;
        value = std::string(s.substr(start, i - start));
      }
    }
    tag.attributes.emplace_back(std::move(key), std::move(value));
  }
  return tag;
}

// An entity after '&' at s[i]: its UTF-8 text and how many bytes it took, or none.
std::pair<std::string, std::size_t> Entity(std::string_view s, std::size_t i) {
  const std::size_t semi = s.find(';', i);
  if (semi == std::string_view::npos || semi - i > 10) return {"", 0};
  const std::string_view name = s.substr(i + 1, semi - i - 1);
  static constexpr std::pair<std::string_view, std::string_view> kNamed[] = {
      {"lt", "<"}, {"gt", ">"}, {"amp", "&"}, {"quot", "\""}, {"apos", "'"}, {"nbsp", "\xC2\xA0"}};
  for (const auto& [n, text] : kNamed) {
    if (name == n) return {std::string(text), semi - i + 1};
  }
  if (name.size() >= 2 && name[0] == '#') {
    const bool hex = name[1] == 'x' || name[1] == 'X';
    const std::string_view digits = name.substr(hex ? 2 : 1);
    std::uint32_t code = 0;
    const auto [end, ec] =
        std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
    if (ec == std::errc() && end == digits.data() + digits.size() && code > 0 && code < 0x110000 &&
        (code < 0xD800 || code > 0xDFFF)) {
      return {EncodeUtf8(std::u32string(1, char32_t(code))), semi - i + 1};
    }
  }
  return {"", 0};
}

// The character formats of `from` on the paragraph format of `to`.
void CopyCharacters(const TextFormat& from, TextFormat& to) {
  to.font = from.font;
  to.size = from.size;
  to.color = from.color;
  to.bold = from.bold;
  to.italic = from.italic;
  to.underline = from.underline;
  to.kerning = from.kerning;
  to.letter_spacing = from.letter_spacing;
  to.url = from.url;
  to.target = from.target;
}

}  // namespace

const TextFormat& StyledText::FormatAt(std::size_t i) const {
  static const TextFormat kNone;
  if (runs.empty()) return kNone;
  const auto it = std::upper_bound(runs.begin(), runs.end(), i,
                                   [](std::size_t at, const TextRun& r) { return at < r.end; });
  return it == runs.end() ? runs.back().format : it->format;
}

void StyledText::Append(std::u32string_view chars, const TextFormat& format, std::size_t limit) {
  const std::size_t room = limit > text.size() ? limit - text.size() : 0;
  chars = chars.substr(0, room);
  if (chars.empty()) return;
  text.append(chars);
  if (!runs.empty() && runs.back().format == format) {
    runs.back().end = text.size();
  } else {
    runs.push_back({text.size(), format});
  }
}

std::u32string DecodeUtf8(std::string_view bytes, std::size_t limit) {
  std::u32string out;
  out.reserve(std::min(bytes.size(), limit));
  std::size_t i = 0;
  while (i < bytes.size() && out.size() < limit) {
    const auto b = std::uint8_t(bytes[i]);
    int more = b >= 0xF0 && b < 0xF5 ? 3 : b >= 0xE0 ? 2 : b >= 0xC2 ? 1 : 0;
    if (b < 0x80 || b >= 0xF5) more = 0;
    char32_t c = more == 3 ? b & 0x07 : more == 2 ? b & 0x0F : more == 1 ? b & 0x1F : b;
    bool valid = more > 0 && i + std::size_t(more) < bytes.size();
    for (int k = 1; valid && k <= more; ++k) {
      const auto n = std::uint8_t(bytes[i + std::size_t(k)]);
      if ((n & 0xC0) != 0x80) valid = false;
      c = (c << 6) | (n & 0x3F);
    }
    if (valid) {
      const char32_t min = more == 3 ? 0x10000 : more == 2 ? 0x800 : 0x80;
      valid = c >= min && c < 0x110000 && (c < 0xD800 || c > 0xDFFF);
    }
    if (valid) {
      out.push_back(c);
      i += std::size_t(more) + 1;
    } else {
      out.push_back(char32_t(b));  // Latin-1
      ++i;
    }
  }
  return out;
}

std::string EncodeUtf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) {
    if (c < 0x80) {
      out.push_back(char(c));
    } else if (c < 0x800) {
      out.push_back(char(0xC0 | (c >> 6)));
      out.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(char(0xE0 | (c >> 12)));
      out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(char(0x80 | (c & 0x3F)));
    } else {
      out.push_back(char(0xF0 | (c >> 18)));
      out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(char(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

StyledText PlainText(std::string_view utf8, const TextFormat& format, std::size_t limit) {
  StyledText out;
  out.Append(Paragraphs(DecodeUtf8(utf8, limit)), format, limit);
  return out;
}

StyledText HtmlText(std::string_view html, const TextFormat& base, std::size_t limit,
                    bool multiline, bool flash8) {
  StyledText out;
  struct Open {
    std::string name;
    TextFormat format;
    std::size_t written = 0;  // the characters written before it opened
  };
  std::vector<Open> open{{"", base, 0}};
  std::string chars;        // text waiting for its format
  bool blank = true;        // the text since the last tag is all blanks
  std::size_t written = 0;  // characters of text written (paragraph ends not counted)
  const auto flush = [&] {
    if (chars.empty()) return;
    const std::size_t before = out.text.size();
    out.Append(Paragraphs(DecodeUtf8(chars, limit)), open.back().format, limit);
    written += out.text.size() - before;
    chars.clear();
  };
  // The last <font> closed with no text inside: a </p> takes its characters.
  std::optional<TextFormat> empty_font;
  // A paragraph's end takes the format of the tags open. A </p> takes the characters of the last
  // empty <font>, else those of the character before it, else those of `base`, in the
  // paragraph's layout, as Flash keeps them.
  const auto paragraph_end = [&](bool p_end) {
    flush();
    TextFormat f = open.back().format;
    if (p_end && empty_font) {
      CopyCharacters(*empty_font, f);
    } else if (p_end && !out.text.empty() && out.text.back() != U'\n') {
      f = out.runs.back().format;
    } else if (p_end) {
      CopyCharacters(base, f);
    }
    out.Append(U"\n", f, limit);
  };
  const auto at_paragraph_start = [&] {
    flush();
    return out.text.empty() || out.text.back() == U'\n';
  };
  // Only a multiline field breaks at tags; a <p>'s end breaks once however deep they nest, an
  // <li> breaks before (but at a paragraph's start) and after.
  bool in_p = false;
  constexpr std::size_t kMaxOpen = 256;
  constexpr std::size_t kPiece = 1 << 16;
  std::size_t i = 0;
  while (i < html.size() && out.text.size() < limit) {
    const char c = html[i];
    if (c == '&') {
      const auto [text, taken] = Entity(html, i);
      if (taken > 0) {
        chars += text;
        blank = false;
        i += taken;
        continue;
      }
    }
    if (c != '<') {
      // Long text goes on in pieces, cut before a character's first byte.
      // (Blanks that may yet be dropped wait, no more of them than the HTML has.)
      if ((flash8 || !blank) && chars.size() >= kPiece && (std::uint8_t(c) & 0xC0) != 0x80) {
        flush();
      }
      chars.push_back(c);
      blank = blank && (c == ' ' || c == '\n' || c == '\r' || c == '\t');
      ++i;
      continue;
    }
    if (!flash8 && blank) chars.clear();
    flush();
    blank = true;
    const std::size_t close = html.find('>', i);
    if (close == std::string_view::npos) {
      chars.append(html.substr(i));  // text, kept
      blank = false;
      break;
    }
    const Tag tag = ParseTag(html.substr(i + 1, close - i - 1));
    i = close + 1;
    if (tag.name == "br" || (tag.name == "sbr")) {
      if (multiline) paragraph_end(false);
      continue;
    }
    if (tag.closing) {
      if (multiline && (tag.name == "li" || (tag.name == "p" && in_p))) {
        paragraph_end(tag.name == "p");
      }
      if (tag.name == "p") in_p = false;
      flush();
      // Only the innermost open tag closes; an end tag of another is ignored.
      if (open.size() > 1 && open.back().name == tag.name) {
        if (tag.name == "font" && written == open.back().written) empty_font = open.back().format;
        open.pop_back();
      }
      continue;
    }
    TextFormat f = open.back().format;
    if (tag.name == "p") {
      in_p = true;
      if (const auto* a = tag.Find("align")) f.align = AlignOf(*a, f.align);
    } else if (tag.name == "li") {
      if (multiline && !at_paragraph_start()) paragraph_end(false);
      f.bullet = true;
    } else if (tag.name == "b") {
      f.bold = true;
    } else if (tag.name == "i") {
      f.italic = true;
    } else if (tag.name == "u") {
      f.underline = true;
    } else if (tag.name == "font") {
      if (const auto* v = tag.Find("face")) f.font = *v;
      if (const auto* v = tag.Find("size")) {
        // Under a pixel takes the size of the text written last; Flash's largest is 127.
        const float size = Pixels(*v, f.size, true);
        if (size >= 20) {
          f.size = std::min(size, kMaxHtmlSize);
        } else if (!out.runs.empty()) {
          f.size = out.runs.back().format.size;
        }
      }
      if (const auto* v = tag.Find("color")) f.color = Color(*v, f.color);
      if (const auto* v = tag.Find("letterspacing")) f.letter_spacing = Spacing(*v);
      if (const auto* v = tag.Find("kerning"); v && flash8) f.kerning = *v == "1";
    } else if (tag.name == "textformat") {
      if (const auto* v = tag.Find("leftmargin")) f.left_margin = Pixels(*v, 0, false);
      if (const auto* v = tag.Find("rightmargin")) f.right_margin = Pixels(*v, 0, false);
      if (const auto* v = tag.Find("indent")) f.indent = Pixels(*v, 0, false);
      if (const auto* v = tag.Find("blockindent")) f.block_indent = Pixels(*v, 0, false);
      if (const auto* v = tag.Find("leading")) f.leading = Pixels(*v, 0, false);
      if (const auto* v = tag.Find("letterspacing")) f.letter_spacing = Spacing(*v);
      if (const auto* v = tag.Find("tabstops")) {
        // Pixels apart by commas; a bounded number of them.
        f.tab_stops.clear();
        std::string_view rest = *v;
        while (!rest.empty() && f.tab_stops.size() < 256) {
          const std::size_t comma = std::min(rest.find(','), rest.size());
          f.tab_stops.push_back(std::max(0.0f, Pixels(rest.substr(0, comma), 0, false)));
          rest.remove_prefix(std::min(comma + 1, rest.size()));
        }
        std::sort(f.tab_stops.begin(), f.tab_stops.end());
      }
    } else if (tag.name == "a") {
      if (const auto* v = tag.Find("href")) f.url = *v;
      if (const auto* v = tag.Find("target")) f.target = *v;
    } else if (tag.name != "span") {
      continue;  // <img>, unknown tags: nothing to format
    }
    flush();
    if (open.size() < kMaxOpen) open.push_back({tag.name, std::move(f), written});
  }
  if (!flash8 && blank) chars.clear();
  flush();
  return out;
}

}  // namespace swf
