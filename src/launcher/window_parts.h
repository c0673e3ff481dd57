#pragma once
// What the launcher window's handlers reach: the window itself, its controls and the system.
// Each platform supplies these; the handlers never see a platform type. Sizes and positions are
// twips, except the screen size and the topmost placement, which are pixels.

#include <array>
#include <cstdint>
#include <memory>

#include "vocabulary/path_text.h"
#include "vocabulary/twips_scale.h"

namespace launcher {

// A picture loaded by the platform's picture loader, shared between Logo and ImgTemp.
class Picture {
 public:
  virtual ~Picture() = default;
};
using PictureRef = std::shared_ptr<const Picture>;

// The largest picture the loaders accept, in pixels: more than an 8K screen shows (33.2 million),
// so any logo fits, while its decoded copy stays under 160 MB. A larger one is not a picture.
inline constexpr std::uint64_t kMaxPicturePixels = 40'000'000;
// True when a picture of that size is too large to be one.
[[nodiscard]] constexpr bool ExceedsPictureLimit(std::uint64_t width, std::uint64_t height) {
  return width * height > kMaxPicturePixels;
}

using WindowHandle = std::intptr_t;
inline constexpr WindowHandle kTopmostWindow = -1;  // HWND_TOPMOST

struct PixelSize {
  int width = 0;
  int height = 0;
};

// The keyboard and mouse-button state by Windows virtual-key code (launcher/virtual_keys.h); an
// entry with kKeyDown set is down, and no other bit counts.
using KeyState = std::array<std::uint8_t, 256>;
inline constexpr std::uint8_t kKeyDown = 0x80;

// The window Main as the handlers see it. Its outer size is its client size (no frame).
class Form {
 public:
  virtual ~Form() = default;
  [[nodiscard]] virtual Twips Height() const = 0;
  [[nodiscard]] virtual Twips Width() const = 0;
  virtual void SetHeight(Twips height) = 0;
  virtual void SetWidth(Twips width) = 0;
  [[nodiscard]] virtual WindowHandle Handle() const = 0;
  // Takes the window and its controls off the screen for good and ends the event loop once the
  // current handler returns; the platform frees them after the loop. Never fails.
  virtual void Dismiss() noexcept = 0;
};

class TimerControl {
 public:
  virtual ~TimerControl() = default;
  // 0 stops the ticks; any other interval (re)starts them.
  virtual void SetInterval(int milliseconds) = 0;
};

// Logo: a hidden picture box that loads the picture and, with automatic sizing on, takes its size.
class PictureBox {
 public:
  virtual ~PictureBox() = default;
  virtual void SetVisible(bool visible) = 0;
  virtual void SetAutoSize(bool auto_size) = 0;
  virtual void SetPicture(PictureRef picture) = 0;
  [[nodiscard]] virtual PictureRef Picture() const = 0;
  virtual void SetTop(Twips top) = 0;
  virtual void SetLeft(Twips left) = 0;
  [[nodiscard]] virtual Twips Height() const = 0;
  [[nodiscard]] virtual Twips Width() const = 0;
  virtual void SetHeight(Twips height) = 0;
  virtual void SetWidth(Twips width) = 0;
};

// ImgTemp: paints the picture on the window's own surface, beneath every child window.
class ImageControl {
 public:
  virtual ~ImageControl() = default;
  virtual void SetTop(Twips top) = 0;
  virtual void SetLeft(Twips left) = 0;
  virtual void SetStretch(bool stretch) = 0;
  virtual void SetPicture(PictureRef picture) = 0;
  virtual void SetHeight(Twips height) = 0;
  virtual void SetWidth(Twips width) = 0;
};

// The system calls the handlers make.
class SystemServices {
 public:
  virtual ~SystemServices() = default;
  // Fills keys with the state the window's own thread has received; leaves it alone on failure.
  virtual void GetKeyboardState(KeyState& keys) noexcept = 0;
  virtual void Sleep(int milliseconds) noexcept = 0;
  // The primary display's size in pixels.
  [[nodiscard]] virtual PixelSize ScreenSize() = 0;
  // Places and sizes a window in pixels; its result is of no interest.
  virtual void SetWindowPos(WindowHandle window, WindowHandle insert_after, int x, int y, int cx,
                            int cy, unsigned flags) noexcept = 0;
  // True when the path names an ordinary file: not a folder, not hidden, not a system file.
  // Wildcards in the path match as the platform's file search matches them.
  [[nodiscard]] virtual bool FilePresent(const PathText& path) = 0;
  // The platform's picture loader; throws when the file can't be read as a picture.
  [[nodiscard]] virtual PictureRef LoadPicture(const PathText& path) = 0;
};

}  // namespace launcher
