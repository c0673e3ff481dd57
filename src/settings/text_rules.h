#pragma once
// How the platform turns the settings file's 8-bit text into path text and upper-cases it.

#include <string_view>

#include "vocabulary/path_text.h"

namespace launcher {

// How the settings file stores its text: the system's ANSI code page, or UTF-8 when the file
// starts with a UTF-8 byte-order mark.
enum class TextEncoding { Ansi, Utf8 };

class TextRules {
 public:
  virtual ~TextRules() = default;
  // One field's bytes, as they stand in the file, to path text.
  [[nodiscard]] virtual PathText Decode(std::string_view bytes, TextEncoding encoding) const = 0;
  // Upper case by the user's locale rules.
  [[nodiscard]] virtual PathText ToUpper(const PathText& text) const = 0;
  // The name under which the platform opens a file at path (long paths on Windows).
  [[nodiscard]] virtual PathText OpenName(const PathText& path) const { return path; }
};

}  // namespace launcher
