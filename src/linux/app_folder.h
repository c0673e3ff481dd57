#pragma once
// The application folder: the folder of the running executable, whatever the current folder.

#include "vocabulary/path_text.h"

namespace launcher::posix {

// Throws std::runtime_error when the executable's path can't be read.
[[nodiscard]] PathText ApplicationFolder();

// The folder part of an executable's path, without its last '/'; "/" for a file at the root.
[[nodiscard]] PathText FolderOf(const PathText& executable);

}  // namespace launcher::posix
