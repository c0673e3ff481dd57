#pragma once
// The file presence test on POSIX systems, and reading a whole file with bounded memory.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vocabulary/path_text.h"

namespace launcher::posix {

// True when the path names a regular file (after following links) whose name doesn't start
// with a dot, the POSIX mark of a hidden file. '*' and '?' in the last path component match as
// wildcards; a match counts when any matching entry is such a file.
bool FilePresent(const PathText& path);

// The whole file, if it is an ordinary file of at most max_bytes: opened without blocking, so a
// named pipe or a device in its place can't stall the window. Throws std::runtime_error in the
// system's words otherwise.
[[nodiscard]] std::vector<std::uint8_t> ReadOrdinaryFile(const PathText& path,
                                                         std::size_t max_bytes);

}  // namespace launcher::posix
