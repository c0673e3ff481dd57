#include "player/playback_watch.h"

#include <utility>

namespace launcher {

PlaybackWatch::PlaybackWatch(Now now) : now_(std::move(now)) {}

void PlaybackWatch::Load() {
  state_ = State::kLoaded;
  duration_.reset();
}

void PlaybackWatch::SetDuration(std::chrono::nanoseconds duration) {
  duration_ = duration;
}

void PlaybackWatch::Play() {
  if (state_ == State::kFailed) return;
  state_ = State::kStarting;
  since_ = now_();
}

void PlaybackWatch::Began() {
  // A late report after the end, a stop or a failure doesn't bring the movie back.
  if (state_ != State::kStarting) return;
  state_ = State::kRunning;
  since_ = now_();
}

void PlaybackWatch::Ended() {
  if (state_ == State::kStarting || state_ == State::kRunning) state_ = State::kOver;
}

void PlaybackWatch::Reached(std::chrono::nanoseconds position) {
  if (state_ == State::kRunning && duration_ && position >= *duration_) state_ = State::kOver;
}

void PlaybackWatch::Failed() {
  state_ = State::kFailed;
}

void PlaybackWatch::Stop() {
  if (state_ == State::kStarting || state_ == State::kRunning) state_ = State::kOver;
}

bool PlaybackWatch::Playing() {
  const Clock::time_point now = now_();
  switch (state_) {
    case State::kStarting:
      if (now - since_ >= kStartGrace) state_ = State::kFailed;
      break;
    case State::kRunning:
      // Without a known length only the stack's own reports end the movie.
      if (duration_ && now - since_ >= *duration_ + kEndGrace) state_ = State::kOver;
      break;
    case State::kIdle:
    case State::kLoaded:
    case State::kOver:
    case State::kFailed:
      break;
  }
  return state_ == State::kStarting || state_ == State::kRunning;
}

bool PlaybackWatch::Opening() const {
  return state_ == State::kLoaded || state_ == State::kStarting;
}

}  // namespace launcher
