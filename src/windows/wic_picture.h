#pragma once
// Pictures through the Windows Imaging Component, which reads JPEG, PNG, BMP and GIF (the first
// frame) on every supported Windows. OleLoadPicture reads no PNG on Windows, so it isn't used.

#include <windows.h>

#include "launcher/window_parts.h"
#include "windows/scoped_win.h"

namespace launcher::win32 {

// A picture as a device-independent bitmap, premultiplied BGRA: transparent parts come out black.
class WicPicture final : public Picture {
 public:
  WicPicture(Bitmap bitmap, int width, int height);

  [[nodiscard]] int Width() const { return width_; }
  [[nodiscard]] int Height() const { return height_; }
  // Draws at its own size from target's top-left corner, clipped to target, or stretched over it.
  void Paint(HDC dc, const RECT& target, bool stretch) const;

 private:
  Bitmap bitmap_;
  int width_;
  int height_;
};

// Reads the first frame of a picture file. Throws when the file can't be read as a picture.
// COM must be initialised on the calling thread.
PictureRef LoadWicPicture(const PathText& path);

}  // namespace launcher::win32
