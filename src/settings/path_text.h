#pragma once
// Paths as the platform keeps them: UTF-16 on Windows, bytes elsewhere. The type follows
// std::filesystem, so portable code never needs to know which one it holds.

#include <filesystem>
#include <string>
#include <string_view>

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

}  // namespace launcher
