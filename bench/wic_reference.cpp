// Reference for the logo phase under Windows: the least a Win32 program does to show a JPEG. It
// decodes the picture through WIC, opens a borderless window over the primary monitor and
// stretches the picture onto it on every WM_PAINT; the first key or button ends it.
//   wic_reference PICTURE
#include <windows.h>

#include "reference_win32.h"

namespace {

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (bench::IsKeyOrButton(message)) {
    DestroyWindow(window);
    return 0;
  }
  return bench::PictureWindowProcedure(window, message, wparam, lparam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*command_line*/,
                    int /*show*/) {
  const auto args = bench::Arguments();
  if (args.size() != 1) return 2;
  const bench::ComSession com;
  if (FAILED(com.hr)) return 1;
  return bench::ShowPicture(instance, args[0], WindowProcedure);
}
