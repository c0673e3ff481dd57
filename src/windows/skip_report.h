#pragma once
// Why a movie was skipped, in the words of the library that failed: one line to the debugger
// output, which a player reads with a debug viewer and Wine prints with WINEDEBUG=+debugstr.

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

#include "settings/path_text.h"

namespace launcher::win32 {

// "<step> failed: 0x8007000E Not enough memory resources are available..." with the system's
// message for the code, or Media Foundation's for its own codes; the bare code when neither
// knows it.
std::wstring FailureText(std::wstring_view step, HRESULT code);

// Writes "launcher: movie skipped: <path>: <reason>" and a line end to the debugger output.
void ReportSkippedMovie(const PathText& path, std::wstring_view reason) noexcept;

// How an engine says why it skipped a movie: ReportSkippedMovie, or a wrapper of it that adds
// what the caller knows.
using SkipReporter = std::function<void(const PathText& path, std::wstring_view reason)>;

}  // namespace launcher::win32
