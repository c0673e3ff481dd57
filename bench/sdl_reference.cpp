// Reference for the logo phase: the least an SDL program does to show a JPEG. It decodes the
// picture, opens a borderless window over the whole display, stretches the picture onto the
// window surface and then sleeps in SDL_WaitEvent until a key, a button or a close request.
//   bench_sdl_reference PICTURE
#include <SDL.h>
#include <SDL_image.h>

#include <cstdio>
#include <memory>

#include "reference_sdl.h"

using bench::SdlSession;
using bench::SurfaceFree;
using bench::WindowFree;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_sdl_reference PICTURE\n");
    return 2;
  }
  // A plain window surface, without the GL stack SDL would otherwise load behind it.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  SdlSession sdl;
  if (!sdl.ok) {
    std::fprintf(stderr, "SDL_Init: %s\n", SDL_GetError());
    return 1;
  }
  std::unique_ptr<SDL_Surface, SurfaceFree> picture(IMG_Load(argv[1]));
  if (!picture) {
    std::fprintf(stderr, "IMG_Load: %s\n", IMG_GetError());
    return 1;
  }
  SDL_Rect bounds{};
  SDL_GetDisplayBounds(0, &bounds);
  std::unique_ptr<SDL_Window, WindowFree> window(
      SDL_CreateWindow("Reference", bounds.x, bounds.y, bounds.w, bounds.h, SDL_WINDOW_BORDERLESS));
  if (!window) {
    std::fprintf(stderr, "SDL_CreateWindow: %s\n", SDL_GetError());
    return 1;
  }
  auto paint = [&] {
    SDL_Surface* surface = SDL_GetWindowSurface(window.get());
    if (surface == nullptr) return;
    SDL_BlitScaled(picture.get(), nullptr, surface, nullptr);
    SDL_UpdateWindowSurface(window.get());
  };
  paint();
  SDL_Event event;
  while (SDL_WaitEvent(&event) != 0) {
    if (event.type == SDL_QUIT || event.type == SDL_KEYDOWN || event.type == SDL_MOUSEBUTTONDOWN)
      break;
    if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_EXPOSED) paint();
  }
  return 0;
}
