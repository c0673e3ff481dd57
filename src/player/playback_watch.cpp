#include "player/playback_watch.h"

#include <utility>

namespace launcher {

PlaybackWatch::PlaybackWatch(Now now) : now_(std::move(now)) {}

void PlaybackWatch::Load() {
  state_ = State::Loaded;
  duration_.reset();
}

void PlaybackWatch::SetDuration(std::chrono::nanoseconds duration) {
  duration_ = duration;
}

void PlaybackWatch::Play() {
  if (state_ == State::Failed) return;
  state_ = State::Starting;
  since_ = now_();
}

void PlaybackWatch::Began() {
  // A late report after the end, a stop or a failure doesn't bring the movie back.
  if (state_ != State::Starting) return;
  state_ = State::Running;
  since_ = now_();
}

void PlaybackWatch::Ended() {
  if (state_ == State::Starting || state_ == State::Running) state_ = State::Over;
}

void PlaybackWatch::Reached(std::chrono::nanoseconds position) {
  if (state_ == State::Running && duration_ && position >= *duration_) state_ = State::Over;
}

void PlaybackWatch::Failed() {
  state_ = State::Failed;
}

void PlaybackWatch::Stop() {
  if (state_ == State::Starting || state_ == State::Running) state_ = State::Over;
}

bool PlaybackWatch::Playing() {
  const Clock::time_point now = now_();
  switch (state_) {
    case State::Starting:
      if (now - since_ >= kStartGrace) state_ = State::Failed;
      break;
    case State::Running:
      // Without a known length only the stack's own reports end the movie.
      if (duration_ && now - since_ >= *duration_ + kEndGrace) state_ = State::Over;
      break;
    case State::Idle:
    case State::Loaded:
    case State::Over:
    case State::Failed:
      break;
  }
  return state_ == State::Starting || state_ == State::Running;
}

bool PlaybackWatch::Opening() const {
  return state_ == State::Loaded || state_ == State::Starting;
}

}  // namespace launcher
