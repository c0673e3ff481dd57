#include "windows/skip_report.h"

#include <windows.h>

#include <string>

#include "player/skipped_movie_line.h"

namespace launcher::win32 {

void ReportSkippedMovie(const PathText& path, std::wstring_view reason) noexcept {
  try {
    const std::wstring line = SkippedMovieLine(path, reason) + L"\n";
    // In the ANSI code page, as OutputDebugStringW would pass it on to a debug viewer (they read
    // ANSI text); Wine 8 shows only OutputDebugStringA's text under WINEDEBUG=+debugstr.
    const int size =
        ::WideCharToMultiByte(CP_ACP, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return;
    std::string text(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, line.c_str(), -1, text.data(), size, nullptr, nullptr);
    ::OutputDebugStringA(text.c_str());
  } catch (...) {
    // Reporting must never add a failure of its own.
  }
}

}  // namespace launcher::win32
