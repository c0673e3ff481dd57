// The code pages of SWF 5 and older movies, whose strings are in the author's system code page
// rather than UTF-8: Windows-1252, or Shift-JIS (Windows code page 932) where the movie's fonts
// say so.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace swf {

enum class CodePage : std::uint8_t { Windows1252, ShiftJis };

// A string of the code page as UTF-8; bytes that map to nothing become U+FFFD.
[[nodiscard]] std::string CodePageToUtf8(std::string_view raw, CodePage page);

// A font's code of the code page (a byte, or a Shift-JIS pair as lead << 8 | trail) as a code
// point; 0 where it maps to nothing.
[[nodiscard]] char32_t CodePageChar(std::uint16_t code, CodePage page);

}  // namespace swf
