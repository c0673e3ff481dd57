#pragma once
// The field syntax of Start.ini: comma- or line-separated fields, each optionally in double
// quotes. Reads from a byte stream so that a hostile file is never held in memory whole.

#include <array>
#include <cstddef>
#include <istream>
#include <optional>
#include <string>

namespace launcher {

// Longer than any path a system accepts (Windows' extended-length limit is 32,767 UTF-16
// units, each at most two ANSI bytes); a longer field is a read failure.
inline constexpr std::size_t kMaxFieldBytes = 65536;

// At the start of the file: skips a UTF-8 byte-order mark and says whether there was one;
// without one, goes back to the start.
bool SkipUtf8Mark(std::istream& in);

// Reads one field from the current position. std::nullopt when no field can be read: the end of
// the file where a field should begin, a field over kMaxFieldBytes, a NUL byte, a read error.
std::optional<std::string> ReadField(std::istream& in);

// The first four fields, or std::nullopt as soon as one of them can't be read. Whatever
// follows the fourth field is not read.
std::optional<std::array<std::string, 4>> ReadFourFields(std::istream& in);

}  // namespace launcher
