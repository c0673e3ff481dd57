#pragma once
// Where a skipped movie is told on Windows: one line to the debugger output, which a player reads
// with a debug viewer and Wine prints with WINEDEBUG=+debugstr.

#include <string_view>

#include "vocabulary/path_text.h"

namespace launcher::win32 {

// Writes SkippedMovieLine(path, reason) and a line end to the debugger output. A SkipReporter.
void ReportSkippedMovie(const PathText& path, std::wstring_view reason) noexcept;

}  // namespace launcher::win32
