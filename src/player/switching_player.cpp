#include "player/switching_player.h"

namespace launcher {

bool IsFlashMovie(const PathText& path) {
  const PathText suffix = AsciiPath(".swf");
  if (path.size() < suffix.size()) return false;
  const std::basic_string_view<PathChar> whole(path);
  return EqualsIgnoringAsciiCase(whole.substr(whole.size() - suffix.size()), suffix);
}

SwitchingMoviePlayer::SwitchingMoviePlayer(std::unique_ptr<MoviePlayer> flash,
                                           EngineFactory builtIn)
    : flash_(std::move(flash)), make_built_in_(std::move(builtIn)) {}

MoviePlayer* SwitchingMoviePlayer::Current() {
  if (chosen_ != nullptr) return chosen_;
  return flash_.get();
}

void SwitchingMoviePlayer::SetVisible(bool visible) {
  visible_ = visible;
  if (MoviePlayer* engine = Current()) engine->SetVisible(visible);
}

void SwitchingMoviePlayer::SetTop(Twips top) {
  top_ = top;
  if (MoviePlayer* engine = Current()) engine->SetTop(top);
}

void SwitchingMoviePlayer::SetLeft(Twips left) {
  left_ = left;
  if (MoviePlayer* engine = Current()) engine->SetLeft(left);
}

void SwitchingMoviePlayer::SetHeight(Twips height) {
  height_ = height;
  if (MoviePlayer* engine = Current()) engine->SetHeight(height);
}

void SwitchingMoviePlayer::SetWidth(Twips width) {
  width_ = width;
  if (MoviePlayer* engine = Current()) engine->SetWidth(width);
}

void SwitchingMoviePlayer::SetLoop(bool loop) {
  loop_ = loop;
  if (MoviePlayer* engine = Current()) engine->SetLoop(loop);
}

void SwitchingMoviePlayer::Replay(MoviePlayer& engine) const {
  if (top_) engine.SetTop(*top_);
  if (left_) engine.SetLeft(*left_);
  if (height_) engine.SetHeight(*height_);
  if (width_) engine.SetWidth(*width_);
  if (loop_) engine.SetLoop(*loop_);
  engine.SetVisible(visible_);
}

void SwitchingMoviePlayer::SetMovie(const PathText& path) {
  MoviePlayer* next = nullptr;
  if (flash_ && IsFlashMovie(path)) {
    next = flash_.get();
  } else {
    if (!built_in_) built_in_ = make_built_in_();
    next = built_in_.get();
  }
  // Only one engine is ever seen: the one that had the properties so far steps aside, and the
  // new one takes them over.
  if (MoviePlayer* previous = Current(); next != previous) {
    if (previous != nullptr) previous->SetVisible(false);
    Replay(*next);
  }
  chosen_ = next;
  chosen_->SetMovie(path);
}

void SwitchingMoviePlayer::Play() {
  if (MoviePlayer* engine = Current()) engine->Play();
}

bool SwitchingMoviePlayer::Playing() {
  MoviePlayer* engine = Current();
  return engine != nullptr && engine->Playing();
}

void SwitchingMoviePlayer::StopPlay() {
  if (MoviePlayer* engine = Current()) engine->StopPlay();
}

}  // namespace launcher
