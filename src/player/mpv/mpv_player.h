#pragma once
// The built-in movie engine on Linux: libmpv through its render API, drawing in software into the
// window's video layer. mpv reports from threads of its own; the player only asks the window's
// event loop to come back (the wake functions), and does all its work on the window's thread.

#include <functional>
#include <memory>
#include <vector>

#include "player/fscommand_chapter.h"
#include "player/movie_player.h"
#include "player/mpv/mpv_library.h"
#include "player/mpv/video_layer.h"
#include "player/playback_watch.h"

namespace launcher::mpv {

class MpvMoviePlayer final : public MoviePlayer {
 public:
  // Called on any thread, at any time until the player is gone: must only wake the event loop.
  using Wake = std::function<void()>;

  // mpv itself is created when the first movie is set, from the library that loader opens.
  MpvMoviePlayer(MpvLibraryLoader& loader, VideoLayer& layer, Wake wakeForEvents,
                 Wake wakeForFrame);
  ~MpvMoviePlayer() override;
  MpvMoviePlayer(const MpvMoviePlayer&) = delete;
  MpvMoviePlayer& operator=(const MpvMoviePlayer&) = delete;

  void SetVisible(bool visible) override;
  void SetTop(Twips top) override;
  void SetLeft(Twips left) override;
  void SetHeight(Twips height) override;
  void SetWidth(Twips width) override;
  void SetLoop(bool loop) override;
  // Throws when libmpv can't be opened or started.
  void SetMovie(const PathText& path) override;
  void Play() override;
  [[nodiscard]] bool Playing() override;
  void StopPlay() override;

  // On the window's thread after wakeForEvents: takes in what mpv reported and returns the
  // commands that the movie sent meanwhile, in order.
  [[nodiscard]] std::vector<MovieCommand> HandleEvents();
  // On the window's thread after wakeForFrame: draws the movie's new frame, if there is one.
  void DrawFrame();

 private:
  struct Engine;
  void HandleChapter(std::int64_t chapter, std::vector<MovieCommand>& commands);

  MpvLibraryLoader& loader_;
  VideoLayer& layer_;
  Wake wake_for_events_;
  Wake wake_for_frame_;
  bool loop_ = false;
  PathText movie_;
  PlaybackWatch watch_;
  // The playlist entry of the movie last started, and whether mpv has begun loading it.
  std::int64_t entry_ = -1;
  bool entry_started_ = false;
  std::int64_t chapter_ = -1;
  std::unique_ptr<Engine> engine_;  // last: it goes first, while the rest is still there
};

}  // namespace launcher::mpv
