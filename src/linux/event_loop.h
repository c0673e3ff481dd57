#pragma once
// The window's one thread: SDL's events, the timer's ticks and the player's reports, delivered
// one at a time through the dispatcher. The thread sleeps in SDL until something is due.

#include <SDL.h>

#include <atomic>
#include <functional>
#include <optional>

#include "launcher/event_dispatch.h"
#include "launcher/window_parts.h"
#include "linux/sdl_window.h"
#include "player/mpv/mpv_player.h"
#include "player/swf/swf_movie_player.h"

namespace launcher::sdl {

// Timer: ticks every interval while the interval is above 0. A tick that falls due while a
// handler runs comes once, when the handler is done; missed ticks are not made up.
class SdlTimer final : public TimerControl {
 public:
  using Clock = std::function<Uint64()>;  // milliseconds
  explicit SdlTimer(Clock now = &SDL_GetTicks64) : now_(std::move(now)) {}

  void SetInterval(int milliseconds) override;
  // Milliseconds until the next tick is due (0: due now), or none while stopped.
  [[nodiscard]] std::optional<Uint32> Remaining(Uint64 now) const;
  // Called as a tick is delivered: the next one falls due an interval after this one was.
  void Fire(Uint64 now);

 private:
  Clock now_;
  int interval_ = 0;
  Uint64 due_ = 0;
};

// Pushes one SDL event of its type from any thread, and no second one until the first is taken.
class Waker {
 public:
  explicit Waker(Uint32 type) : type_(type) {}
  void Wake();
  // On the window's thread, as the event is taken.
  void Taken() { pending_.store(false); }
  [[nodiscard]] Uint32 Type() const { return type_; }

 private:
  Uint32 type_;
  std::atomic<bool> pending_{false};
};

// Seconds on the steady clock: the SWF player's clock.
[[nodiscard]] double SteadySeconds();

// The movie engines made so far (null until a movie needs one): the loop delivers their reports
// and frames.
struct MovieEngines {
  mpv::MpvMoviePlayer* mpv = nullptr;
  swfplayer::SwfMoviePlayer* swf = nullptr;
};

// Runs until the window is dismissed.
void RunEventLoop(EventDispatcher& events, SdlWindow& window, SdlTimer& timer,
                  const MovieEngines& engines, Waker& player_events, Waker& player_frames);

}  // namespace launcher::sdl
