#include "windows/skip_report.h"

#include <cwchar>

#include "player/skipped_movie_line.h"

namespace launcher::win32 {
namespace {

// The message a module's table (or the system's, for a null module) holds for code, without its
// line end; empty when it holds none.
std::wstring MessageFor(HRESULT code, HMODULE module) {
  DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS;
  flags |= module != nullptr ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM;
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(flags, module, static_cast<DWORD>(code), 0,
                                        reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message(text != nullptr ? text : L"", length);
  ::LocalFree(text);
  while (!message.empty() &&
         (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' ')) {
    message.pop_back();
  }
  return message;
}

}  // namespace

std::wstring FailureText(std::wstring_view step, HRESULT code) {
  wchar_t hex[16];
  std::swprintf(hex, sizeof hex / sizeof hex[0], L"0x%08lX", static_cast<unsigned long>(code));
  std::wstring text = std::wstring(step) + L" failed: " + hex;
  std::wstring message = MessageFor(code, nullptr);
  // Media Foundation's own codes (MF_E_*) are in mfplat.dll's table, when it is loaded.
  if (HMODULE mfplat = ::GetModuleHandleW(L"mfplat.dll"); message.empty() && mfplat != nullptr) {
    message = MessageFor(code, mfplat);
  }
  if (!message.empty()) text += L" " + message;
  return text;
}

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
