#pragma once
// Decides whether a built-in engine's movie still plays. The engine reports what its media stack
// tells it (playback began, ended, failed); a watchdog on a steady clock ends playback that
// outlasts the movie's own length, so a lost end report can never keep the window open.

#include <chrono>
#include <functional>
#include <optional>

namespace launcher {

class PlaybackWatch {
 public:
  using Clock = std::chrono::steady_clock;
  using Now = std::function<Clock::time_point()>;

  // Time allowed after the movie's own length before the watchdog ends playback.
  static constexpr std::chrono::seconds kEndGrace{2};
  // Time allowed between Play and the stack's report that playback began.
  static constexpr std::chrono::seconds kStartGrace{10};

  explicit PlaybackWatch(Now now = &Clock::now);

  // A new movie is loaded: not playing, nothing known about it yet.
  void Load();
  // The movie's own length, once the stack knows it.
  void SetDuration(std::chrono::nanoseconds duration);
  // Play was called. A movie that failed to load stays not playing.
  void Play();
  // The stack reports that playback runs; the watchdog counts from here.
  void Began();
  void Ended();
  // Where the stack's presentation stands: a movie shown to its whole length is over, also when
  // the end report never comes.
  void Reached(std::chrono::nanoseconds position);
  // Any failure: the movie can't be loaded or played, or the stack reported an error.
  void Failed();
  void Stop();

  // True from Play until the end, a failure, a stop or the watchdog, whichever comes first.
  [[nodiscard]] bool Playing();

  // The loaded movie is still opening: it has neither begun, ended, failed nor been stopped. The
  // same movie set again now needs no new load (a second key in the same tick sets it again).
  [[nodiscard]] bool Opening() const;
  // Play was called and the movie is still opening: played again, it needs no new start.
  [[nodiscard]] bool Starting() const { return state_ == State::Starting; }

 private:
  enum class State { Idle, Loaded, Starting, Running, Over, Failed };

  Now now_;
  State state_ = State::Idle;
  std::optional<std::chrono::nanoseconds> duration_;
  Clock::time_point since_{};
};

}  // namespace launcher
