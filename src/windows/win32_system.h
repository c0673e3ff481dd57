#pragma once
// The system calls of the launcher's handlers on Win32, the hand-off's process start, the
// application folder and the report of an error that no handler trapped.

#include <windows.h>

#include "handoff/process_starter.h"
#include "launcher/event_dispatch.h"
#include "launcher/window_parts.h"

namespace launcher::win32 {

class Win32System final : public SystemServices {
 public:
  void GetKeyboardState(KeyState& keys) noexcept override;
  void Sleep(int milliseconds) noexcept override;
  [[nodiscard]] PixelSize ScreenSize() override;
  void SetWindowPos(WindowHandle window, WindowHandle insert_after, int x, int y, int cx, int cy,
                    unsigned flags) noexcept override;
  [[nodiscard]] bool FilePresent(const PathText& path) override;
  [[nodiscard]] PictureRef LoadPicture(const PathText& path) override;
};

// CreateProcessW with the window hidden, the launcher's current folder and environment; the
// new process's handles are closed at once and it is never waited for.
class Win32ProcessStarter final : public ProcessStarter {
 public:
  void Start(std::string_view command_line) override;
};

// One line on the standard error (when there is one) and to the debugger.
class Win32ErrorReporter final : public ErrorReporter {
 public:
  void Report(std::string_view line) noexcept override;
};

// The full path of the given module's file, of any length (the module of the program when null).
PathText ModuleFileName(HMODULE module = nullptr);
// The folder part of a file path: everything before its last "\", without that "\".
PathText FolderOf(const PathText& file_path);

}  // namespace launcher::win32
