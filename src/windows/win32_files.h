#pragma once
// The file presence test on Windows.

#include "vocabulary/path_text.h"

namespace launcher::win32 {

// Searches the path as a file-search pattern (wildcards as Windows applies them) and counts it
// present when the search yields an ordinary file: no folder, no hidden or system file;
// read-only and archived files count. Throws on a path the system calls malformed.
bool FilePresent(const PathText& path);

// Long paths: an absolute drive or UNC path of MAX_PATH or more gets the extended-length prefix.
PathText ExtendedLengthPath(const PathText& path);

}  // namespace launcher::win32
