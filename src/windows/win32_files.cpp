#include "windows/win32_files.h"

#include <windows.h>

#include <stdexcept>

#include "windows/scoped_win.h"

namespace launcher::win32 {
namespace {

constexpr DWORD kNotOrdinary =
    FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

}  // namespace

PathText ExtendedLengthPath(const PathText& path) {
  if (path.size() < MAX_PATH || path.starts_with(L"\\\\?\\")) return path;
  if (path.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + path.substr(2);
  if (path.size() > 2 && path[1] == L':' && path[2] == L'\\') return L"\\\\?\\" + path;
  return path;
}

bool FilePresent(const PathText& path) {
  WIN32_FIND_DATAW found{};
  const FindHandle search(::FindFirstFileW(ExtendedLengthPath(path).c_str(), &found));
  if (!search.valid()) {
    switch (::GetLastError()) {
      case ERROR_INVALID_NAME:
      case ERROR_BAD_PATHNAME:
      case ERROR_FILENAME_EXCED_RANGE:
        throw std::runtime_error("file search: malformed path");
      default:
        return false;  // not found, no such folder, no access: no file to show
    }
  }
  do {
    if ((found.dwFileAttributes & kNotOrdinary) == 0) return true;
  } while (::FindNextFileW(search.get(), &found));
  return false;
}

}  // namespace launcher::win32
