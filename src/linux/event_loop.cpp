#include "linux/event_loop.h"

#include <chrono>
#include <cmath>
#include <vector>

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

double SteadySeconds() {
  using Seconds = std::chrono::duration<double>;
  return std::chrono::duration_cast<Seconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

namespace {

// Each command is its own event; one that closes the window ends the delivery.
void Deliver(const std::vector<MovieCommand>& commands, EventDispatcher& events) {
  for (const MovieCommand& command : commands) {
    if (!events.WindowLoaded()) break;
    events.Command(command.command, command.args);
  }
}

// Milliseconds until the SWF player's next frame (0: due now), or none while it plays nothing.
std::optional<Uint32> SwfFrameWait(const MovieEngines& engines) {
  if (engines.swf == nullptr) return std::nullopt;
  const std::optional<double> due = engines.swf->NextFrameDue();
  if (!due) return std::nullopt;
  // Rounded up: waking a little early would only come back to wait again.
  const double wait = std::ceil((*due - SteadySeconds()) * 1000);
  return wait > 0 ? static_cast<Uint32>(wait) : 0;
}

void HandleEvent(const SDL_Event& event, EventDispatcher& events, SdlWindow& window,
                 const MovieEngines& engines, Waker& player_events, Waker& player_frames) {
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
  } else if (event.type == player_events.Type()) {
    player_events.Taken();
    if (engines.mpv != nullptr) Deliver(engines.mpv->HandleEvents(), events);
  } else if (event.type == player_frames.Type()) {
    player_frames.Taken();
    if (engines.mpv != nullptr) engines.mpv->DrawFrame();
  }
}

}  // namespace

void RunEventLoop(EventDispatcher& events, SdlWindow& window, SdlTimer& timer,
                  const MovieEngines& engines, Waker& player_events, Waker& player_frames) {
  while (events.WindowLoaded() && !window.Dismissed()) {
    window.RedrawIfNeeded();

    const Uint64 now = SDL_GetTicks64();
    std::optional<Uint32> remaining = timer.Remaining(now);
    if (remaining == std::optional<Uint32>(0)) {
      timer.Fire(now);
      events.Tick();
      continue;
    }
    // A frame due runs now; then one waiting event is taken without waiting, so a movie slower
    // than its frame rate never starves the window's events.
    const std::optional<Uint32> frame = SwfFrameWait(engines);
    if (frame == std::optional<Uint32>(0)) Deliver(engines.swf->RunFrame(), events);
    if (frame && (!remaining || *frame < *remaining)) remaining = frame;
    if (!events.WindowLoaded()) break;
    SDL_Event event{};
    const int got = remaining ? SDL_WaitEventTimeout(&event, static_cast<int>(*remaining))
                              : SDL_WaitEvent(&event);
    if (got == 1) HandleEvent(event, events, window, engines, player_events, player_frames);
  }
}

}  // namespace launcher::sdl
