#include "windows/win32_text_rules.h"

#include <windows.h>

#include <limits>
#include <stdexcept>

#include "windows/win32_files.h"

namespace launcher::win32 {
namespace {

std::wstring Widen(UINT code_page, std::string_view bytes) {
  if (bytes.empty()) return {};
  if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    throw std::length_error("text too long");
  }
  const int size = static_cast<int>(bytes.size());
  const int wide = ::MultiByteToWideChar(code_page, 0, bytes.data(), size, nullptr, 0);
  if (wide <= 0) throw std::runtime_error("text can't be decoded");
  std::wstring text(static_cast<std::size_t>(wide), L'\0');
  ::MultiByteToWideChar(code_page, 0, bytes.data(), size, text.data(), wide);
  return text;
}

}  // namespace

PathText Win32TextRules::Decode(std::string_view bytes, TextEncoding encoding) const {
  return Widen(encoding == TextEncoding::Utf8 ? CP_UTF8 : CP_ACP, bytes);
}

PathText Win32TextRules::OpenName(const PathText& path) const {
  return ExtendedLengthPath(path);
}

PathText Win32TextRules::ToUpper(const PathText& text) const {
  if (text.empty()) return text;
  const int size = static_cast<int>(text.size());
  constexpr DWORD kFlags = LCMAP_UPPERCASE | LCMAP_LINGUISTIC_CASING;
  const int needed = ::LCMapStringEx(LOCALE_NAME_USER_DEFAULT, kFlags, text.c_str(), size, nullptr,
                                     0, nullptr, nullptr, 0);
  if (needed <= 0) throw std::runtime_error("text can't be upper-cased");
  std::wstring upper(static_cast<std::size_t>(needed), L'\0');
  ::LCMapStringEx(LOCALE_NAME_USER_DEFAULT, kFlags, text.c_str(), size, upper.data(), needed,
                  nullptr, nullptr, 0);
  return upper;
}

std::string ToUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int bytes =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), bytes, nullptr, nullptr);
  return utf8;
}

std::wstring FromUtf8(std::string_view text) {
  return Widen(CP_UTF8, text);
}

}  // namespace launcher::win32
