#pragma once
// Settings text on Windows: ANSI (or UTF-8 with a byte-order mark) to UTF-16.

#include "settings/text_rules.h"

namespace launcher::win32 {

class Win32TextRules final : public TextRules {
 public:
  [[nodiscard]] PathText Decode(std::string_view bytes, TextEncoding encoding) const override;
  // LCMapStringEx upper case with the user's default locale and its linguistic casing.
  [[nodiscard]] PathText ToUpper(const PathText& text) const override;
  // With the extended-length prefix the presence test and the picture loader use.
  [[nodiscard]] PathText OpenName(const PathText& path) const override;
};

// UTF-16 to UTF-8 and back, for texts that cross into portable code (movie commands).
std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view text);

}  // namespace launcher::win32
