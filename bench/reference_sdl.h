#pragma once
// What both bare reference programs hold of SDL: the session and its window and surfaces.

#include <SDL.h>

namespace bench {

struct SdlSession {
  bool ok;
  SdlSession() : ok(SDL_Init(SDL_INIT_VIDEO) == 0) {}
  ~SdlSession() { SDL_Quit(); }
  SdlSession(const SdlSession&) = delete;
  SdlSession& operator=(const SdlSession&) = delete;
};
struct SurfaceFree {
  void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};
struct WindowFree {
  void operator()(SDL_Window* w) const { SDL_DestroyWindow(w); }
};

}  // namespace bench
