#include "player/swf/swf_movie_player.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <utility>

namespace launcher::swfplayer {
namespace {

constexpr int kOutputRate = 44100;

}  // namespace

SwfMoviePlayer::SwfMoviePlayer(Platform platform) : platform_(std::move(platform)) {}

SwfMoviePlayer::~SwfMoviePlayer() = default;

void SwfMoviePlayer::SetVisible(bool visible) {
  if (visible && !visible_) shown_frame_ = 0;
  visible_ = visible;
  platform_.layer.SetVisible(visible);
}

void SwfMoviePlayer::SetTop(Twips top) {
  platform_.layer.SetTop(top);
}

void SwfMoviePlayer::SetLeft(Twips left) {
  platform_.layer.SetLeft(left);
}

void SwfMoviePlayer::SetHeight(Twips height) {
  platform_.layer.SetHeight(height);
}

void SwfMoviePlayer::SetWidth(Twips width) {
  platform_.layer.SetWidth(width);
}

void SwfMoviePlayer::SetLoop(bool loop) {
  loop_ = loop;
  if (core_) core_->SetLoop(loop);
}

void SwfMoviePlayer::SetMovie(const PathText& path) {
  // Two keys down in one tick set and play the same movie twice: the second time, while the
  // first has shown nothing yet, changes nothing.
  if (opening_ && path == path_) return;
  Close();
  path_ = path;
  core_.reset();
  refusal_.clear();
  left_for_others_.clear();
  LoadedCore loaded;
  try {
    loaded = platform_.load(platform_.open_file(path, kMaxFileBytes));
  } catch (const std::exception& error) {
    loaded.refusal = error.what();
  }
  if (!loaded.core) {
    refusal_ = "SWF player: " + (loaded.refusal.empty() ? "not a movie" : loaded.refusal);
    return;
  }
  core_ = std::move(loaded.core);
  if (!loaded.left_for_others.empty()) left_for_others_ = "SWF player: " + loaded.left_for_others;
  core_->SetLoop(loop_);
  const double rate = core_->FrameRate();
  frame_rate_ =
      std::isfinite(rate) ? std::clamp(rate, kMinFrameRate, kMaxFrameRate) : kMinFrameRate;
}

void SwfMoviePlayer::Play() {
  if (!core_ || opening_) return;
  Close();
  core_->Play();
  playing_ = true;
  opening_ = true;
  started_ = platform_.now();
  next_due_ = started_;
  shown_frame_ = 0;
  silent_samples_ = 0;
  audio_pending_ = static_cast<bool>(platform_.open_audio);
}

bool SwfMoviePlayer::Playing() {
  return playing_ && core_ && core_->Playing();
}

void SwfMoviePlayer::StopPlay() {
  if (core_) core_->StopPlay();
  Close();
}

std::string SwfMoviePlayer::Refusal() const {
  return refusal_;
}

std::string SwfMoviePlayer::LeftForOthers() const {
  return left_for_others_;
}

std::optional<double> SwfMoviePlayer::NextFrameDue() const {
  if (!playing_) return std::nullopt;
  return next_due_;
}

std::vector<MovieCommand> SwfMoviePlayer::RunFrame() {
  if (!playing_ || !core_) return {};
  opening_ = false;
  const double now = platform_.now();
  // The device opens once the first frame is on the screen: the sound starts after the picture
  // instead of while the first frame is read and drawn, and opening it doesn't delay that frame.
  if (audio_pending_ && (shown_frame_ != 0 || !visible_)) {
    audio_pending_ = false;
    MovieCore* core = core_.get();
    audio_ =
        platform_.open_audio([core](std::span<std::int16_t> stereo) { core->PullAudio(stereo); });
  }
  if (audio_pending_) {
    // Nothing is taken before the device opens.
  } else if (audio_) {
    // The frame reaches the screen a drawing later: the one to show is the one whose sound will
    // be heard by then.
    const auto drawing = static_cast<std::uint64_t>(drawing_seconds_ * kOutputRate);
    const std::uint64_t queued = audio_->QueuedFrames();
    core_->SetOutputDelay(queued - std::min(queued, drawing));
  } else {
    PullSilently(now);  // taken as heard: no delay
  }
  core_->AdvanceTo(now - started_);
  // A new frame is drawn. So is the same one two periods on (a timeline that goes to its own
  // frame again still moves its sprites), late enough never to hold up a frame the sound is due
  // to bring a little after its time.
  const int frame = core_->CurrentFrame();
  const bool draw = frame != shown_frame_ || now - drawn_at_ >= 2 / frame_rate_;
  if (visible_ && draw) {
    platform_.layer.DrawFrame([this](const FramePixels& pixels) { core_->Render(pixels); });
    shown_frame_ = frame;
    drawn_at_ = now;
    // How long a drawing takes, smoothed over the last few and bounded to a period.
    const double took = std::clamp(platform_.now() - now, 0.0, 1 / frame_rate_);
    drawing_seconds_ += (took - drawing_seconds_) * kDrawingSmoothing;
  }
  std::vector<MovieCommand> commands = core_->TakeCommands();
  if (!core_->Playing()) {
    // The end. The device stays open until the player stops or plays another movie: closing it
    // waits for its thread and server, which would hold the last frame off the screen, and event
    // sounds play on past the end, as in Flash.
    playing_ = false;
    opening_ = false;
    audio_pending_ = false;
  } else {
    // When the core says the next frame is due (by its clock, a late frame never shifting the
    // ones after it, or when the sound heard reaches it), looked at again within a period.
    const double period = 1 / frame_rate_;
    const double due =
        audio_pending_ ? now : started_ + core_->NextFrameTime() - (audio_ ? drawing_seconds_ : 0);
    next_due_ =
        std::isfinite(due) ? std::clamp(due, now + kMinWaitSeconds, now + period) : now + period;
  }
  return commands;
}

void SwfMoviePlayer::Close() {
  audio_.reset();
  audio_pending_ = false;
  playing_ = false;
  opening_ = false;
}

void SwfMoviePlayer::PullSilently(double now) {
  // The mix advances as if a device played it, so a stream sound still paces the frames.
  const auto due =
      static_cast<std::uint64_t>(std::round(std::max(0.0, now - started_) * kOutputRate));
  if (due <= silent_samples_) return;
  constexpr auto kMaxSamples = static_cast<std::uint64_t>(kMaxSilentPullSeconds * kOutputRate);
  const std::uint64_t take = std::min(due - silent_samples_, kMaxSamples);
  silent_buffer_.resize(static_cast<std::size_t>(take) * 2);
  core_->PullAudio(silent_buffer_);
  // What a stalled window missed is not made up.
  silent_samples_ = due;
}

}  // namespace launcher::swfplayer
