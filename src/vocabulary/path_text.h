#pragma once
// Paths as the platform keeps them: UTF-16 on Windows, bytes elsewhere. The type follows
// std::filesystem, so portable code never needs to know which one it holds. Also the few rules
// for text that every part of the launcher shares.

#include <filesystem>
#include <string>
#include <string_view>
#include <type_traits>

namespace launcher {

using PathChar = std::filesystem::path::value_type;
using PathText = std::filesystem::path::string_type;

// The platform's folder separator: "\" on Windows, "/" elsewhere.
inline constexpr PathChar kPathSeparator = std::filesystem::path::preferred_separator;

// folder + one separator + name. The folder's ending is not checked and the name is never taken
// as absolute: a configured name always stays inside the folder text it is appended to.
inline PathText JoinPath(const PathText& folder, const PathText& name) {
  PathText joined;
  joined.reserve(folder.size() + 1 + name.size());
  joined += folder;
  joined += kPathSeparator;
  joined += name;
  return joined;
}

// Widens ASCII text (names fixed in the program) to path text.
inline PathText AsciiPath(std::string_view ascii) {
  return PathText(ascii.begin(), ascii.end());
}

// Whether two texts are equal when ASCII letters are compared without case. Every other character,
// every byte of a multi-byte character included, must match exactly.
template <typename Char>
constexpr bool EqualsIgnoringAsciiCase(std::basic_string_view<Char> a,
                                       std::type_identity_t<std::basic_string_view<Char>> b) {
  const auto lower = [](Char c) {
    return (c >= Char{'A'} && c <= Char{'Z'}) ? static_cast<Char>(c - Char{'A'} + Char{'a'}) : c;
  };
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// The text without the line ends and blanks at its end: a library's message as one line's part.
template <typename Char>
constexpr std::basic_string_view<Char> WithoutLineEnd(std::basic_string_view<Char> text) {
  while (!text.empty() &&
         (text.back() == Char{'\n'} || text.back() == Char{'\r'} || text.back() == Char{' '})) {
    text.remove_suffix(1);
  }
  return text;
}

}  // namespace launcher
