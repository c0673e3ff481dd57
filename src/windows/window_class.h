#pragma once
// The launcher's window classes: registered once per module, found there by every later window.

#include <windows.h>

namespace launcher::win32 {

// Registers a window class of the launcher (arrow cursor, black background) unless the module has
// it already: a second window or a second engine in one process finds it there. False when it
// can't be registered (GetLastError says why).
[[nodiscard]] inline bool RegisterWindowClass(HINSTANCE instance, const wchar_t* name,
                                              WNDPROC procedure, HICON icon = nullptr) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (::GetClassInfoExW(instance, name, &existing)) return true;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = procedure;
  wc.hInstance = instance;
  wc.hIcon = icon;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
  wc.lpszClassName = name;
  return ::RegisterClassExW(&wc) != 0;
}

}  // namespace launcher::win32
