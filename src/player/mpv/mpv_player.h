#pragma once
// The built-in movie engine on Linux: libmpv through its render API, drawing in software into the
// window's video layer.
//
// Threading, as libmpv's render API requires (mpv/render.h, "Threading"):
// - The window's thread is the render thread: DrawFrame calls mpv_render_context_update and
//   mpv_render_context_render there. Once the render context exists, that thread calls no libmpv
//   function that may wait for mpv's core: only those libmpv declares safe for render threads
//   (mpv_command_async, mpv_set_property_async, mpv_wait_event with a zero timeout). Commands
//   are requests whose replies come back as events; what the engine needs to know (chapters, the
//   length, the end and its reason, mpv's warnings) arrives as events and observed properties.
// - The core is created, configured and started (mpv_initialize, the observed properties, the log
//   level) before the render context exists. It is freed in the opposite order: the render
//   context first, then the core (mpv_terminate_destroy), when the thread no longer renders.
// - mpv calls the wake functions from threads of its own, also while the window's thread renders;
//   they only ask the event loop to come back and never call libmpv. The player does all its work
//   on the window's thread.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "player/fscommand_chapter.h"
#include "player/movie_player.h"
#include "player/mpv/mpv_library.h"
#include "player/playback_watch.h"
#include "player/skip_once.h"
#include "player/video_layer.h"

namespace launcher::mpv {

class MpvMoviePlayer final : public MoviePlayer {
 public:
  // Called on any thread, at any time until the player is gone: must only wake the event loop.
  using Wake = std::function<void()>;
  // mpv itself is created when the first movie is set, from the library that loader opens. Why a
  // movie was skipped goes to report_skipped, on the window's thread, once.
  MpvMoviePlayer(MpvLibraryLoader& loader, VideoLayer& layer, Wake wake_for_events,
                 Wake wake_for_frame, SkipReporter report_skipped);
  ~MpvMoviePlayer() override;
  MpvMoviePlayer(const MpvMoviePlayer&) = delete;
  MpvMoviePlayer& operator=(const MpvMoviePlayer&) = delete;

  void SetVisible(bool visible) override;
  void SetTop(Twips top) override;
  void SetLeft(Twips left) override;
  void SetHeight(Twips height) override;
  void SetWidth(Twips width) override;
  void SetLoop(bool loop) override;
  // A movie that can't be played, libmpv missing included, reads as not playing and is reported
  // with the reason in libmpv's words. The same movie set again while it is opening, and played
  // again, costs nothing: mpv gets one loadfile.
  void SetMovie(const PathText& path) override;
  void Play() override;
  [[nodiscard]] bool Playing() override;
  void StopPlay() override;

  // On the window's thread after wake_for_events: takes in what mpv reported and returns the
  // commands that the movie sent meanwhile, in order.
  [[nodiscard]] std::vector<MovieCommand> HandleEvents();
  // On the window's thread after wake_for_frame: draws the movie's new frame, if there is one.
  void DrawFrame();

 private:
  struct Engine;
  void StartEngine();
  void HandleEvent(const ::mpv_event& event, std::vector<MovieCommand>& commands);
  void HandleChapter(std::int64_t chapter, std::vector<MovieCommand>& commands);
  void KeepChapterTitles(const ::mpv_node& list);
  // The movie can't be played: it reads as not playing, and the first skip of the run is told.
  void Skip(std::string_view reason);
  [[nodiscard]] std::string InMpvWords(int error) const;

  MpvLibraryLoader& loader_;
  VideoLayer& layer_;
  Wake wake_for_events_;
  Wake wake_for_frame_;
  SkipOnce skip_;
  bool loop_ = false;
  PathText movie_;
  PlaybackWatch watch_;
  // The reply that the latest loadfile will carry (0: none awaited), the playlist entry it
  // created, and whether mpv has begun loading that entry.
  std::uint64_t load_reply_ = 0;
  std::uint64_t loads_ = 0;
  std::int64_t entry_ = -1;
  bool entry_started_ = false;
  std::int64_t chapter_ = -1;
  std::vector<std::string> chapter_titles_;
  // mpv's latest warnings and errors since the movie was loaded, oldest first.
  std::deque<std::string> warnings_;
  std::unique_ptr<Engine> engine_;  // last: it goes first, while the rest is still there
};

}  // namespace launcher::mpv
