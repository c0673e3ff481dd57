#include "windows/win32_failure.h"

#include <cwchar>
#include <stdexcept>

#include "vocabulary/path_text.h"
#include "windows/scoped_win.h"
#include "windows/win32_text_rules.h"

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
  const LocalMemory owned(text);
  if (text == nullptr) return {};
  return std::wstring(WithoutLineEnd<wchar_t>({text, length}));
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

std::string LastErrorText(std::string_view step) {
  const HRESULT code = HRESULT_FROM_WIN32(::GetLastError());
  return ToUtf8(FailureText(FromUtf8(step), code));
}

void ThrowLastError(std::string_view step) {
  throw std::runtime_error(LastErrorText(step));
}

void ThrowIfFailed(HRESULT code, std::string_view step) {
  if (FAILED(code)) throw std::runtime_error(ToUtf8(FailureText(FromUtf8(step), code)));
}

}  // namespace launcher::win32
