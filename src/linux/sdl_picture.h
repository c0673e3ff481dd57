#pragma once
// Pictures on Linux: the logo file read with bounded memory and decoded by SDL_image.

#include <SDL.h>

#include <utility>

#include "launcher/window_parts.h"
#include "linux/sdl_handles.h"
#include "vocabulary/picture_header.h"

namespace launcher::sdl {

// A picture from SDL_image, at its natural size in pixels.
class SdlPicture final : public Picture {
 public:
  // surface: not null.
  explicit SdlPicture(SurfacePtr surface)
      : surface_(std::move(surface)), width_(surface_->w), height_(surface_->h) {}
  [[nodiscard]] SDL_Surface* Surface() const { return surface_.get(); }
  [[nodiscard]] int Width() const { return width_; }
  [[nodiscard]] int Height() const { return height_; }

 private:
  SurfacePtr surface_;
  int width_;
  int height_;
};

// JPEG, PNG, BMP, GIF (its first frame) and WebP, as the file's header names the format: an
// ordinary file of at most 64 MiB, opened without blocking, of no more pixels than the launcher
// shows. Throws std::runtime_error when the file can't be read as such a picture.
[[nodiscard]] PictureRef LoadSdlPicture(const PathText& path);

// SDL_image's name of a format, so that only the decoder of the format a header names ever sees a
// file's bytes.
[[nodiscard]] const char* SdlImageType(PictureFormat format);

}  // namespace launcher::sdl
