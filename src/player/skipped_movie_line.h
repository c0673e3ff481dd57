#pragma once
// The line that says why a movie was skipped, the same on every platform.

#include <string_view>

#include "vocabulary/path_text.h"

namespace launcher {

// "launcher: movie skipped: <path>: <reason>", without a line end. A line break in the path or in
// a library's words becomes a space: whoever reads the output finds the whole reason on one line.
[[nodiscard]] PathText SkippedMovieLine(const PathText& path,
                                        std::basic_string_view<PathChar> reason);

}  // namespace launcher
