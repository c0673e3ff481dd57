#include "linux/event_loop.h"

namespace launcher::sdl {

void SdlTimer::SetInterval(int milliseconds) {
  interval_ = milliseconds > 0 ? milliseconds : 0;
  due_ = now_() + static_cast<Uint64>(interval_);
}

std::optional<Uint32> SdlTimer::Remaining(Uint64 now) const {
  if (interval_ == 0) return std::nullopt;
  return due_ > now ? static_cast<Uint32>(due_ - now) : 0;
}

void SdlTimer::Fire(Uint64 now) {
  due_ += static_cast<Uint64>(interval_);
  // This tick came late enough to stand for the ones missed meanwhile: the pace starts again
  // from now, never with a burst.
  if (due_ <= now) due_ = now + static_cast<Uint64>(interval_);
}

void Waker::Wake() {
  if (pending_.exchange(true)) return;
  SDL_Event event{};
  event.type = type_;
  if (SDL_PushEvent(&event) != 1) pending_.store(false);
}

namespace {

void HandleEvent(const SDL_Event& event, EventDispatcher& events, SdlWindow& window,
                 mpv::MpvMoviePlayer& player, Waker& playerEvents, Waker& playerFrames) {
  if (event.type == SDL_QUIT) {
    events.CloseRequest();
  } else if (event.type == SDL_WINDOWEVENT) {
    switch (event.window.event) {
      case SDL_WINDOWEVENT_CLOSE:
        events.CloseRequest();
        break;
      case SDL_WINDOWEVENT_EXPOSED:
      case SDL_WINDOWEVENT_SIZE_CHANGED:
        window.Invalidate();
        break;
      default:
        break;
    }
  } else if (event.type == playerEvents.Type()) {
    playerEvents.Taken();
    // Each command is its own event; one that closes the window ends the delivery.
    for (const MovieCommand& command : player.HandleEvents()) {
      if (!events.WindowLoaded()) break;
      events.Command(command.command, command.args);
    }
  } else if (event.type == playerFrames.Type()) {
    playerFrames.Taken();
    player.DrawFrame();
  }
}

}  // namespace

void RunEventLoop(EventDispatcher& events, SdlWindow& window, SdlTimer& timer,
                  mpv::MpvMoviePlayer& player, Waker& playerEvents, Waker& playerFrames) {
  while (events.WindowLoaded() && !window.Dismissed()) {
    window.RedrawIfNeeded();

    const Uint64 now = SDL_GetTicks64();
    const std::optional<Uint32> remaining = timer.Remaining(now);
    if (remaining == std::optional<Uint32>(0)) {
      timer.Fire(now);
      events.Tick();
      continue;
    }
    SDL_Event event{};
    const int got = remaining ? SDL_WaitEventTimeout(&event, static_cast<int>(*remaining))
                              : SDL_WaitEvent(&event);
    if (got == 1) HandleEvent(event, events, window, player, playerEvents, playerFrames);
  }
}

}  // namespace launcher::sdl
