#include "player/switching_player.h"

namespace launcher {

bool IsFlashMovie(const PathText& path) {
  const PathText suffix = AsciiPath(".swf");
  if (path.size() < suffix.size()) return false;
  const std::basic_string_view<PathChar> whole(path);
  return EqualsIgnoringAsciiCase(whole.substr(whole.size() - suffix.size()), suffix);
}

SwitchingMoviePlayer::SwitchingMoviePlayer(std::unique_ptr<MoviePlayer> flash,
                                           EngineFactory built_in, SwfRoute swf)
    : flash_(std::move(flash)), make_built_in_(std::move(built_in)), swf_route_(std::move(swf)) {}

MoviePlayer* SwitchingMoviePlayer::Current() {
  if (chosen_ != nullptr) return chosen_;
  return flash_.get();
}

void SwitchingMoviePlayer::SetVisible(bool visible) {
  visible_ = visible;
  if (MoviePlayer* engine = Current()) engine->SetVisible(visible);
}

template <typename T>
void SwitchingMoviePlayer::Forward(std::optional<T>& kept, T value, void (MoviePlayer::*set)(T)) {
  kept = value;
  if (MoviePlayer* engine = Current()) (engine->*set)(value);
}

void SwitchingMoviePlayer::SetTop(Twips top) {
  Forward(top_, top, &MoviePlayer::SetTop);
}

void SwitchingMoviePlayer::SetLeft(Twips left) {
  Forward(left_, left, &MoviePlayer::SetLeft);
}

void SwitchingMoviePlayer::SetHeight(Twips height) {
  Forward(height_, height, &MoviePlayer::SetHeight);
}

void SwitchingMoviePlayer::SetWidth(Twips width) {
  Forward(width_, width, &MoviePlayer::SetWidth);
}

void SwitchingMoviePlayer::SetLoop(bool loop) {
  Forward(loop_, loop, &MoviePlayer::SetLoop);
}

void SwitchingMoviePlayer::Replay(MoviePlayer& engine) const {
  if (top_) engine.SetTop(*top_);
  if (left_) engine.SetLeft(*left_);
  if (height_) engine.SetHeight(*height_);
  if (width_) engine.SetWidth(*width_);
  if (loop_) engine.SetLoop(*loop_);
  engine.SetVisible(visible_);
}

MoviePlayer& SwitchingMoviePlayer::BuiltIn() {
  if (!built_in_) built_in_ = make_built_in_();
  return *built_in_;
}

void SwitchingMoviePlayer::Choose(MoviePlayer& next, const PathText& path) {
  // Only one engine is ever seen: the one that had the properties so far steps aside, and the
  // new one takes them over.
  if (MoviePlayer* previous = Current(); &next != previous) {
    if (previous != nullptr) previous->SetVisible(false);
    Replay(next);
  }
  chosen_ = &next;
  chosen_->SetMovie(path);
}

void SwitchingMoviePlayer::SetMovie(const PathText& path) {
  const bool flash_movie = IsFlashMovie(path);
  if (flash_movie && flash_) {
    Choose(*flash_, path);
    return;
  }
  if (!flash_movie || !swf_route_.make) {
    Choose(BuiltIn(), path);
    return;
  }
  if (!swf_) swf_ = swf_route_.make();
  Choose(*swf_, path);
  const std::string refusal = swf_->Refusal();
  if (refusal.empty()) return;
  if (swf_route_.refused) swf_route_.refused(path, refusal);
  if (swf_route_.fall_back == SwfFallBack::ToBuiltIn) Choose(BuiltIn(), path);
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
