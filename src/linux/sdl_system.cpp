#include "linux/sdl_system.h"

#include <stdexcept>
#include <string>

#include "linux/key_map.h"
#include "linux/posix_files.h"
#include "linux/sdl_picture.h"

namespace launcher::sdl {

void SdlSystem::GetKeyboardState(KeyState& keys) noexcept {
  // Brings the state up to date with what the window has received so far; the events stay
  // queued for the event loop.
  SDL_PumpEvents();
  int count = 0;
  const Uint8* keyboard = SDL_GetKeyboardState(&count);
  const Uint32 buttons = SDL_GetMouseState(nullptr, nullptr);
  if (keyboard == nullptr || count < 0) return;
  keys = BuildKeyState({keyboard, static_cast<std::size_t>(count)}, buttons);
}

void SdlSystem::Sleep(int milliseconds) noexcept {
  if (milliseconds > 0) SDL_Delay(static_cast<Uint32>(milliseconds));
}

PixelSize SdlSystem::ScreenSize() {
  SDL_Rect bounds{};
  if (SDL_GetDisplayBounds(0, &bounds) != 0) {
    throw std::runtime_error(std::string("can't read the screen's size: ") + SDL_GetError());
  }
  return {bounds.w, bounds.h};
}

void SdlSystem::SetWindowPos(WindowHandle window, WindowHandle insert_after, int x, int y, int cx,
                             int cy, unsigned /*flags*/) noexcept {
  if (window != window_.Handle()) return;
  window_.Place(x, y, cx, cy, insert_after == kTopmostWindow);
}

bool SdlSystem::FilePresent(const PathText& path) {
  return posix::FilePresent(path);
}

PictureRef SdlSystem::LoadPicture(const PathText& path) {
  return LoadSdlPicture(path);
}

}  // namespace launcher::sdl
