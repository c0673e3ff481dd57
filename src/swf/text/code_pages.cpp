#include "swf/text/code_pages.h"

#include <cstddef>

#include "swf/text/styled_text.h"

namespace swf {
namespace {

#include "swf/text/cp932_table.inc"

constexpr char32_t kReplacement = 0xFFFD;

char32_t Windows1252(std::uint8_t c) {
  static constexpr std::uint16_t kHigh[32] = {
      0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
  return c >= 0x80 && c < 0xA0 ? kHigh[c - 0x80] : c;
}

// The row of kCp932Double for a lead byte, or -1 when the byte stands alone.
int LeadRow(std::uint8_t c) {
  if (c >= 0x81 && c <= 0x9F) return c - 0x81;
  if (c >= 0xE0 && c <= 0xFC) return c - 0xE0 + 0x1F;
  return -1;
}

// A byte of code page 932 that stands alone: ASCII, half-width katakana, and the three bytes
// Windows gives private-use code points.
char32_t ShiftJisSingle(std::uint8_t c) {
  if (c < 0x81) return c;
  if (c >= 0xA1 && c <= 0xDF) return 0xFF61 + (c - 0xA1);
  if (c == 0xA0) return 0xF8F0;
  if (c >= 0xFD) return 0xF8F1 + (c - 0xFD);
  return 0;
}

char32_t ShiftJisPair(std::uint8_t lead, std::uint8_t trail) {
  const int row = LeadRow(lead);
  if (row < 0 || trail < 0x40 || trail > 0xFC) return 0;
  return kCp932Double[row][trail - 0x40];
}

}  // namespace

std::string CodePageToUtf8(std::string_view raw, CodePage page) {
  std::u32string text;
  text.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const auto c = std::uint8_t(raw[i]);
    if (page == CodePage::Windows1252) {
      text.push_back(Windows1252(c));
      continue;
    }
    char32_t u = 0;
    if (LeadRow(c) < 0) {
      u = ShiftJisSingle(c);
    } else if (i + 1 < raw.size()) {
      u = ShiftJisPair(c, std::uint8_t(raw[i + 1]));
      // A pair that maps to nothing takes only its lead byte, as Windows reads it.
      if (u != 0) ++i;
    }
    text.push_back(u != 0 || c == 0 ? u : kReplacement);
  }
  return EncodeUtf8(text);
}

char32_t CodePageChar(std::uint16_t code, CodePage page) {
  // Wider codes in a font without the Shift-JIS flag are Unicode already.
  if (page == CodePage::Windows1252) return code < 0x100 ? Windows1252(std::uint8_t(code)) : code;
  if (code < 0x100) return ShiftJisSingle(std::uint8_t(code));
  return ShiftJisPair(std::uint8_t(code >> 8), std::uint8_t(code & 0xFF));
}

}  // namespace swf
