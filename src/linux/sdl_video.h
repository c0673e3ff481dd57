#pragma once
// SDL's start-up: its video subsystem for the life of the program, set up as the launcher draws
// and reads input.

namespace launcher::sdl {

class SdlVideo {
 public:
  SdlVideo();  // throws std::runtime_error when there is no display to show on
  ~SdlVideo();
  SdlVideo(const SdlVideo&) = delete;
  SdlVideo& operator=(const SdlVideo&) = delete;
};

}  // namespace launcher::sdl
