#pragma once
// The system calls of the launcher's handlers on Linux with SDL.

#include "launcher/window_parts.h"
#include "linux/sdl_window.h"

namespace launcher::sdl {

class SdlSystem final : public SystemServices {
 public:
  explicit SdlSystem(SdlWindow& window) : window_(window) {}

  // The keys and mouse buttons down at this moment, as the window has received them: SDL keeps
  // no state for input that went to another program's window.
  void GetKeyboardState(KeyState& keys) noexcept override;
  void Sleep(int milliseconds) noexcept override;
  [[nodiscard]] PixelSize ScreenSize() override;
  void SetWindowPos(WindowHandle window, WindowHandle insert_after, int x, int y, int cx, int cy,
                    unsigned flags) noexcept override;
  [[nodiscard]] bool FilePresent(const PathText& path) override;
  [[nodiscard]] PictureRef LoadPicture(const PathText& path) override;

 private:
  SdlWindow& window_;
};

}  // namespace launcher::sdl
