#include "linux/posix_text_rules.h"

#include <locale>
#include <stdexcept>

namespace launcher::posix {
namespace {

std::locale UserLocale() {
  try {
    return std::locale("");
  } catch (const std::runtime_error&) {
    return std::locale::classic();  // an unknown locale name in the user's settings
  }
}

}  // namespace

PathText PosixTextRules::Decode(std::string_view bytes, TextEncoding /*encoding*/) const {
  return PathText(bytes);
}

PathText PosixTextRules::ToUpper(const PathText& text) const {
  const std::locale locale = UserLocale();
  const auto& ctype = std::use_facet<std::ctype<char>>(locale);
  PathText upper = text;
  for (char& c : upper) {
    // Bytes of multi-byte characters are left alone: upper-casing them one by one would break them.
    if (static_cast<unsigned char>(c) < 0x80) c = ctype.toupper(c);
  }
  return upper;
}

}  // namespace launcher::posix
