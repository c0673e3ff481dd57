#pragma once
// One player control in front of two engines: an SWF movie goes to the Flash control when it is
// installed, every other movie (and an SWF without the control) to the built-in engine. The
// handlers see one MoviePlayer and never learn which engine plays.

#include <functional>
#include <memory>
#include <optional>

#include "player/movie_player.h"

namespace launcher {

// True when the path ends in ".swf", in any letter case.
bool IsFlashMovie(const PathText& path);

class SwitchingMoviePlayer final : public MoviePlayer {
 public:
  using EngineFactory = std::function<std::unique_ptr<MoviePlayer>()>;

  // flash: the Flash control, created with the window, or null when it isn't installed; it is
  // given every container property as it comes. builtIn: makes the built-in engine the first
  // time a movie needs it; it may throw.
  SwitchingMoviePlayer(std::unique_ptr<MoviePlayer> flash, EngineFactory builtIn);

  void SetVisible(bool visible) override;
  void SetTop(Twips top) override;
  void SetLeft(Twips left) override;
  void SetHeight(Twips height) override;
  void SetWidth(Twips width) override;
  void SetLoop(bool loop) override;
  void SetMovie(const PathText& path) override;
  void Play() override;
  [[nodiscard]] bool Playing() override;
  void StopPlay() override;

 private:
  // The engine the next call goes to: the chosen one, else the Flash control, else none.
  MoviePlayer* Current();
  void Replay(MoviePlayer& engine) const;

  std::unique_ptr<MoviePlayer> flash_;
  EngineFactory make_built_in_;
  std::unique_ptr<MoviePlayer> built_in_;
  MoviePlayer* chosen_ = nullptr;

  // Container properties as last set, for an engine chosen later.
  bool visible_ = false;
  std::optional<Twips> top_, left_, height_, width_;
  std::optional<bool> loop_;
};

}  // namespace launcher
