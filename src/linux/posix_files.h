#pragma once
// The file presence test on POSIX systems.

#include "settings/path_text.h"

namespace launcher::posix {

// True when the path names a regular file (after following links) whose name doesn't start
// with a dot, the POSIX mark of a hidden file. '*' and '?' in the last path component match as
// wildcards; a match counts when any matching entry is such a file.
bool FilePresent(const PathText& path);

}  // namespace launcher::posix
