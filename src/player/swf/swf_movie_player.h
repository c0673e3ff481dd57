#pragma once
// The built-in SWF player behind the launcher's movie player interface: the SWF core plays the
// movie on the platform's clock, its frames go to the window's video layer and its sound to the
// platform's device, and the core's FSCommands become the launcher's movie commands.
//
// Threads: everything runs on the window's thread except the sound device's pulls, which reach
// the core's mixer (it locks) through the open AudioOutput; that output is closed before the core
// it pulls from goes.
//
// The window's loop drives it: when NextFrameDue has come (on the platform's clock), RunFrame
// shows the frame due and returns the commands the movie sent. NextFrameDue changes only in the
// calls below, all made on the window's thread, so a loop that reads it after each event it
// handles is always up to date.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "player/fscommand_chapter.h"
#include "player/swf/movie_core.h"
#include "player/swf/swf_platform.h"
#include "player/switching_player.h"

namespace launcher::swfplayer {

struct Platform {
  VideoLayer& layer;
  FileOpener open_file;
  CoreLoader load;
  AudioOpener open_audio;
  Clock now;
};

class SwfMoviePlayer final : public SelectiveMoviePlayer {
 public:
  // A file larger than this is refused before it is read.
  static constexpr std::size_t kMaxFileBytes = std::size_t{64} << 20;
  // The frame rates the clock runs at, whatever the movie says.
  static constexpr double kMinFrameRate = 1;
  static constexpr double kMaxFrameRate = 120;
  // Without a sound device the engine takes the mix itself, at most this much per frame (a
  // stalled window never makes it decode a burst of sound).
  static constexpr double kMaxSilentPullSeconds = 0.25;
  // The shortest wait for the next frame: a core that finds it due at once never spins the loop.
  static constexpr double kMinWaitSeconds = 0.002;
  // How much each drawing's time moves the estimate the frames are started that much early by.
  static constexpr double kDrawingSmoothing = 0.2;

  explicit SwfMoviePlayer(Platform platform);
  ~SwfMoviePlayer() override;
  SwfMoviePlayer(const SwfMoviePlayer&) = delete;
  SwfMoviePlayer& operator=(const SwfMoviePlayer&) = delete;
  SwfMoviePlayer(SwfMoviePlayer&&) = delete;
  SwfMoviePlayer& operator=(SwfMoviePlayer&&) = delete;

  void SetVisible(bool visible) override;
  void SetTop(Twips top) override;
  void SetLeft(Twips left) override;
  void SetHeight(Twips height) override;
  void SetWidth(Twips width) override;
  void SetLoop(bool loop) override;
  // Opens and loads the movie (the file is read on as it plays); one it can't play reads as not
  // playing and is named by Refusal.
  void SetMovie(const PathText& path) override;
  void Play() override;
  [[nodiscard]] bool Playing() override;
  void StopPlay() override;
  // "SWF player: <why>" for the movie set last, empty when it plays.
  [[nodiscard]] std::string Refusal() const override;
  // "SWF player: <what>" when the movie set last holds video the core can't decode.
  [[nodiscard]] std::string LeftForOthers() const override;

  // When RunFrame is next due on the platform's clock; none while nothing plays.
  [[nodiscard]] std::optional<double> NextFrameDue() const;
  // Runs the movie to now, shows its frame and returns the commands it sent meanwhile, in order.
  [[nodiscard]] std::vector<MovieCommand> RunFrame();

 private:
  void Close();
  void PullSilently(double now);

  Platform platform_;
  bool visible_ = false;
  bool loop_ = false;
  std::string refusal_;
  std::string left_for_others_;
  bool playing_ = false;
  bool opening_ = false;  // played, and no frame run since
  PathText path_;
  double frame_rate_ = kMinFrameRate;
  double started_ = 0;
  double next_due_ = 0;
  int shown_frame_ = 0;  // the frame on the layer; 0: none yet, or it must be drawn again
  double drawn_at_ = 0;
  double drawing_seconds_ = 0;        // how long drawing a frame takes lately
  std::uint64_t silent_samples_ = 0;  // stereo frames taken without a device since Play
  std::vector<std::int16_t> silent_buffer_;
  std::unique_ptr<MovieCore> core_;
  std::unique_ptr<AudioOutput> audio_;  // after the core: closed before it goes
  bool audio_pending_ = false;          // played, the device not opened yet
};

}  // namespace launcher::swfplayer
