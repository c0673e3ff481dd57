#include "linux/sdl_video.h"

#include <SDL.h>

#include <stdexcept>

#include "linux/sdl_handles.h"

namespace launcher::sdl {

SdlVideo::SdlVideo() {
  // The software renderer draws straight into the window's shared-memory image; without these
  // hints SDL would load the OpenGL stack to present it.
  SDL_SetHint(SDL_HINT_RENDER_DRIVER, "software");
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
  // Only a display someone looks at: SDL would otherwise fall back to drawing off screen, and the
  // launcher would wait for a key that nobody can press.
  SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11,wayland");
  // A busy X server may turn a connection away now and then; a second try is cheap.
  constexpr int kAttempts = 3;
  constexpr Uint32 kRetryMilliseconds = 50;
  for (int attempt = 1; SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER) != 0; ++attempt) {
    if (attempt == kAttempts) {
      const std::runtime_error error = SdlError("can't open the display");
      SDL_Quit();
      throw error;
    }
    SDL_Delay(kRetryMilliseconds);
  }
  // The window reads the keyboard by polling; text input would only cost an input method.
  SDL_StopTextInput();
  for (const Uint32 type :
       {SDL_KEYDOWN, SDL_KEYUP, SDL_TEXTINPUT, SDL_TEXTEDITING, SDL_MOUSEMOTION,
        SDL_MOUSEBUTTONDOWN, SDL_MOUSEBUTTONUP, SDL_MOUSEWHEEL, SDL_KEYMAPCHANGED}) {
    SDL_EventState(type, SDL_IGNORE);  // the key and button state is kept all the same
  }
}

SdlVideo::~SdlVideo() {
  SDL_Quit();
}

}  // namespace launcher::sdl
