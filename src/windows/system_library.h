#pragma once
// Libraries that are not on Windows' list of known DLLs (mfplat, winmm, msacm32, …) are loaded
// from the system folder only: a DLL of the same name dropped beside the launcher must never run.

#include <windows.h>

#include <bit>

#include "windows/scoped_win.h"

namespace launcher::win32 {

using Module = UniqueHandle<HMODULE, &::FreeLibrary>;

// The system folder's library of that name, with its dependencies from there too; null when it
// can't be loaded (GetLastError says why).
inline HMODULE LoadSystemLibrary(const wchar_t* name) {
  HMODULE module = ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Windows 7 without KB2533623 knows no LOAD_LIBRARY_SEARCH_SYSTEM32: the full path then.
  if (module == nullptr && ::GetLastError() == ERROR_INVALID_PARAMETER) {
    wchar_t folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    std::wstring path(folder, length);
    path += L'\\';
    path += name;
    module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
  return module;
}

// Looks up one export into a typed function pointer; false when the library lacks it.
template <typename Function>
bool FindExport(HMODULE module, const char* name, Function& function) {
  function = std::bit_cast<Function>(::GetProcAddress(module, name));
  return function != nullptr;
}

}  // namespace launcher::win32
