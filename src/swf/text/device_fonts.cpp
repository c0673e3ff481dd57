#include "swf/text/device_fonts.h"

#include <array>
#include <cstdint>

#include "swf/text/styled_text.h"

namespace swf {
namespace {

// The name folded for comparing: full-width Latin letters as ASCII (UTF-8's U+FF21.., or
// Shift-JIS's 0x82 row in a name that isn't UTF-8), ASCII lower case, spaces dropped; other
// bytes kept.
std::string Fold(std::string_view name) {
  const bool utf8 = EncodeUtf8(DecodeUtf8(name, name.size())) == name;
  std::string out;
  const auto keep = [&out](int c) {
    if (c == ' ') return;
    if (c >= 'A' && c <= 'Z') c = c - 'A' + 'a';
    out.push_back(char(c));
  };
  for (std::size_t i = 0; i < name.size(); ++i) {
    const int c = std::uint8_t(name[i]);
    const int b = i + 1 < name.size() ? std::uint8_t(name[i + 1]) : 0;
    if (utf8) {
      const int b2 = i + 2 < name.size() ? std::uint8_t(name[i + 2]) : 0;
      if (c == 0xEF && (b == 0xBC || b == 0xBD) && b2 >= 0x80) {
        const int code = (b - 0xBC) * 64 + (b2 - 0x80) + 0x20;  // U+FF01..: ASCII 0x21..
        if (code >= 0x21 && code <= 0x7E) {
          keep(code);
          i += 2;
          continue;
        }
      } else if (c == 0xE3 && b == 0x80 && b2 == 0x80) {
        i += 2;  // the ideographic space
        continue;
      }
      keep(c);
      continue;
    }
    const bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    if (!lead || b == 0) {
      keep(c);
      continue;
    }
    ++i;
    if (c == 0x82 && b >= 0x60 && b <= 0x79) {
      keep('a' + (b - 0x60));
    } else if (c == 0x82 && b >= 0x81 && b <= 0x9A) {
      keep('a' + (b - 0x81));
    } else if (!(c == 0x81 && b == 0x40)) {  // not the ideographic space
      out.push_back(char(c));
      out.push_back(char(b));
    }
  }
  return out;
}

bool Has(std::string_view s, std::string_view part) {
  return s.find(part) != std::string_view::npos;
}

}  // namespace

FaceMapping FaceFor(std::string_view name) {
  const std::string f = Fold(name);
  if (f.empty() || f == "_sans") return {FaceKind::Sans, true};
  if (f == "_serif") return {FaceKind::Serif, true};
  if (f == "_typewriter") return {FaceKind::Mono, false};
  // "ゴシック" and "明朝" in UTF-8 and in Shift-JIS; Flash's Japanese generic names
  // (_ゴシック, _明朝, _等幅) fold to these too.
  static constexpr std::string_view kGothic[] = {"gothic",
                                                 "\xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83",
                                                 "\x83\x53\x83\x56\x83\x62",
                                                 "meiryo",
                                                 "\xE3\x83\xA1\xE3\x82\xA4\xE3\x83\xAA\xE3\x82\xAA",
                                                 "\x83\x81\x83\x43\x83\x8A\x83\x49",
                                                 "osaka"};
  static constexpr std::string_view kMincho[] = {"mincho", "\xE6\x98\x8E\xE6\x9C\x9D",
                                                 "\x96\xBE\x92\xA9"};
  static constexpr std::string_view kFixed[] = {"\xE7\xAD\x89\xE5\xB9\x85", "\x93\x99\x95\x9D"};
  // MS Gothic and MS Mincho are fixed pitch; MS PGothic, MS PMincho and MS UI Gothic are not.
  const bool ms = f.rfind("ms", 0) == 0 && f.size() > 2;
  const bool fixed = ms && f[2] != 'p' && f.compare(2, 2, "ui") != 0;
  for (std::string_view g : kGothic) {
    if (Has(f, g)) return {FaceKind::Gothic, !fixed};
  }
  for (std::string_view m : kMincho) {
    if (Has(f, m)) return {FaceKind::Mincho, !fixed};
  }
  for (std::string_view m : kFixed) {
    if (Has(f, m)) return {FaceKind::Mono, false};
  }
  if (f == "timesnewroman" || f == "times") return {FaceKind::Serif, true};
  if (f == "couriernew" || f == "courier") return {FaceKind::Mono, false};
  // Any other name in Japanese letters: a Japanese face has its glyphs.
  for (char c : f) {
    if (std::uint8_t(c) >= 0x80) return {FaceKind::Gothic, true};
  }
  return {FaceKind::Named, true};
}

}  // namespace swf
