#pragma once
// Settings text on POSIX systems: the file's bytes are the path's bytes.

#include "settings/text_rules.h"

namespace launcher::posix {

class PosixTextRules final : public TextRules {
 public:
  [[nodiscard]] PathText Decode(std::string_view bytes, TextEncoding encoding) const override;
  // Upper-cases by the user's locale (its LC_CTYPE), byte by byte, so that multi-byte
  // characters pass through unchanged.
  [[nodiscard]] PathText ToUpper(const PathText& text) const override;
};

}  // namespace launcher::posix
