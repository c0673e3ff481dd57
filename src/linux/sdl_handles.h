#pragma once
// Owners of SDL's objects, and SDL's failures as exceptions.

#include <SDL.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace launcher::sdl {

struct SdlDeleter {
  void operator()(SDL_Window* window) const { SDL_DestroyWindow(window); }
  void operator()(SDL_Renderer* renderer) const { SDL_DestroyRenderer(renderer); }
  void operator()(SDL_Texture* texture) const { SDL_DestroyTexture(texture); }
  void operator()(SDL_Surface* surface) const { SDL_FreeSurface(surface); }
};

using WindowPtr = std::unique_ptr<SDL_Window, SdlDeleter>;
using RendererPtr = std::unique_ptr<SDL_Renderer, SdlDeleter>;
using TexturePtr = std::unique_ptr<SDL_Texture, SdlDeleter>;
using SurfacePtr = std::unique_ptr<SDL_Surface, SdlDeleter>;

// "what: SDL's reason" for the call that just failed.
inline std::runtime_error SdlError(const std::string& what) {
  return std::runtime_error(what + ": " + SDL_GetError());
}

}  // namespace launcher::sdl
