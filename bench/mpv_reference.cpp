// Reference for the movie phase: libmpv's own time to a first frame, in the plainest host that
// shows it. Shows the picture over the whole display like the SDL reference; the first key or
// button creates an mpv instance, loads the movie and draws each frame onto the window surface
// through the software render API (no GL); the end of the file starts ./ntleac (then PATH) at
// once (after noting the moment in end_file.time) and the program ends. Everything reacts to
// events; nothing polls.
//   bench_mpv_reference PICTURE MOVIE
#include <SDL.h>
#include <SDL_image.h>
#include <mpv/client.h>
#include <mpv/render.h>
#include <spawn.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "reference_sdl.h"

extern char** environ;

namespace {

using bench::SdlSession;
using bench::SurfaceFree;
using bench::WindowFree;

struct MpvFree {
  void operator()(mpv_handle* m) const { mpv_terminate_destroy(m); }
};
struct RenderFree {
  void operator()(mpv_render_context* r) const { mpv_render_context_free(r); }
};

Uint32 g_mpv_event = 0;  // SDL user event type for both mpv callbacks; set once before mpv exists

void WakeUp(void* /*unused*/) {
  SDL_Event e{};
  e.type = g_mpv_event;
  SDL_PushEvent(&e);
}

// Notes when libmpv reported the end of the file, for the benchmark's driver.
void NoteEndOfFile() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  if (std::FILE* out = std::fopen("end_file.time", "w")) {
    std::fprintf(out, "%lld\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
    std::fclose(out);
  }
}

void StartNtleac() {
  char program[] = "ntleac";
  char* argv[] = {program, nullptr};
  pid_t pid = 0;
  posix_spawnp(&pid, access("./ntleac", X_OK) == 0 ? "./ntleac" : "ntleac", nullptr, nullptr, argv,
               environ);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_mpv_reference PICTURE MOVIE\n");
    return 2;
  }
  // A plain window surface, without the GL stack SDL would otherwise load behind it.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  SdlSession sdl;
  if (!sdl.ok) return 1;
  std::unique_ptr<SDL_Surface, SurfaceFree> picture(IMG_Load(argv[1]));
  if (!picture) return 1;
  SDL_Rect bounds{};
  SDL_GetDisplayBounds(0, &bounds);
  std::unique_ptr<SDL_Window, WindowFree> window(
      SDL_CreateWindow("Reference", bounds.x, bounds.y, bounds.w, bounds.h, SDL_WINDOW_BORDERLESS));
  if (!window) return 1;
  g_mpv_event = SDL_RegisterEvents(1);

  std::unique_ptr<mpv_handle, MpvFree> mpv;
  std::unique_ptr<mpv_render_context, RenderFree> render;
  auto paint = [&] {
    SDL_Surface* surface = SDL_GetWindowSurface(window.get());
    if (surface == nullptr) return;
    if (render) {
      int size[2] = {surface->w, surface->h};
      size_t stride = static_cast<size_t>(surface->pitch);
      char format[] = "bgr0";
      mpv_render_param params[] = {{MPV_RENDER_PARAM_SW_SIZE, size},
                                   {MPV_RENDER_PARAM_SW_FORMAT, format},
                                   {MPV_RENDER_PARAM_SW_STRIDE, &stride},
                                   {MPV_RENDER_PARAM_SW_POINTER, surface->pixels},
                                   {MPV_RENDER_PARAM_INVALID, nullptr}};
      mpv_render_context_render(render.get(), params);
    } else {
      SDL_BlitScaled(picture.get(), nullptr, surface, nullptr);
    }
    SDL_UpdateWindowSurface(window.get());
  };
  auto start_movie = [&] {
    mpv.reset(mpv_create());
    if (!mpv) return false;
    for (const auto& [name, value] :
         {std::pair{"vo", "libmpv"}, std::pair{"audio-fallback-to-null", "yes"},
          // The launcher's own sound outputs: how long the end of a movie takes to report
          // depends on the output that plays its sound.
          std::pair{"ao", "pipewire,pulse,alsa,jack"}, std::pair{"input-default-bindings", "no"},
          std::pair{"keep-open", "no"}}) {
      mpv_set_option_string(mpv.get(), name, value);
    }
    if (mpv_initialize(mpv.get()) < 0) return false;
    char api[] = MPV_RENDER_API_TYPE_SW;
    mpv_render_param params[] = {{MPV_RENDER_PARAM_API_TYPE, api},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    mpv_render_context* context = nullptr;
    if (mpv_render_context_create(&context, mpv.get(), params) < 0) return false;
    render.reset(context);
    mpv_set_wakeup_callback(mpv.get(), WakeUp, nullptr);
    mpv_render_context_set_update_callback(render.get(), WakeUp, nullptr);
    const char* command[] = {"loadfile", argv[2], nullptr};
    return mpv_command(mpv.get(), command) >= 0;
  };

  paint();
  SDL_Event event;
  bool ended = false;
  while (!ended && SDL_WaitEvent(&event) != 0) {
    if (event.type == SDL_QUIT) break;
    if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_EXPOSED) paint();
    if ((event.type == SDL_KEYDOWN || event.type == SDL_MOUSEBUTTONDOWN) && !mpv) {
      if (!start_movie()) {
        StartNtleac();
        break;
      }
    }
    if (event.type == g_mpv_event && mpv) {
      if ((mpv_render_context_update(render.get()) & MPV_RENDER_UPDATE_FRAME) != 0) paint();
      for (;;) {
        mpv_event* e = mpv_wait_event(mpv.get(), 0);
        if (e->event_id == MPV_EVENT_NONE) break;
        if (e->event_id == MPV_EVENT_END_FILE) {
          NoteEndOfFile();
          StartNtleac();
          ended = true;
          break;
        }
      }
    }
  }
  // The render context must go before its mpv instance.
  render.reset();
  mpv.reset();
  return 0;
}
