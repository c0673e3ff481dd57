#pragma once
// One player control in front of the engines: an SWF movie goes to the Flash control when it is
// installed, else to the built-in SWF player; every other movie goes to the built-in engine. The
// handlers see one MoviePlayer and never learn which engine plays.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "player/movie_player.h"

namespace launcher {

// True when the path ends in ".swf", in any letter case.
bool IsFlashMovie(const PathText& path);

// An engine that may turn a movie down as it is set, for another engine to try.
class SelectiveMoviePlayer : public MoviePlayer {
 public:
  // Why the engine can't play the movie set last, in words for the skip line; empty when it can.
  [[nodiscard]] virtual std::string Refusal() const = 0;
};

// What becomes of a movie the SWF player turns down.
enum class SwfFallBack : std::uint8_t {
  Skip,       // it is skipped (the SWF player reads as not playing)
  ToBuiltIn,  // it goes on to the built-in engine (libmpv plays SWF files that wrap a video)
};

// Where an SWF goes when no Flash control plays it.
struct SwfRoute {
  // Makes the built-in SWF player the first time a movie needs it; empty: there is none, and
  // SWF movies go to the built-in engine.
  std::function<std::unique_ptr<SelectiveMoviePlayer>()> make;
  // Told each movie the SWF player turns down, with its refusal.
  std::function<void(const PathText& path, const std::string& refusal)> refused;
  SwfFallBack fall_back = SwfFallBack::Skip;
};

class SwitchingMoviePlayer final : public MoviePlayer {
 public:
  using EngineFactory = std::function<std::unique_ptr<MoviePlayer>()>;

  // flash: the Flash control, created with the window, or null when it isn't installed; it is
  // given every container property as it comes. built_in: makes the built-in engine the first
  // time a movie needs it; it may throw. swf: the built-in SWF player and what becomes of the
  // movies it refuses.
  SwitchingMoviePlayer(std::unique_ptr<MoviePlayer> flash, EngineFactory built_in,
                       SwfRoute swf = {});

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
  MoviePlayer& BuiltIn();
  // Makes next the one engine that is seen and sets its movie.
  void Choose(MoviePlayer& next, const PathText& path);
  void Replay(MoviePlayer& engine) const;
  // Remembers a property for the engines to come and gives it to the one playing now.
  template <typename T>
  void Forward(std::optional<T>& kept, T value, void (MoviePlayer::*set)(T));

  std::unique_ptr<MoviePlayer> flash_;
  EngineFactory make_built_in_;
  std::unique_ptr<MoviePlayer> built_in_;
  SwfRoute swf_route_;
  std::unique_ptr<SelectiveMoviePlayer> swf_;
  MoviePlayer* chosen_ = nullptr;

  // Container properties as last set, for an engine chosen later.
  bool visible_ = false;
  std::optional<Twips> top_, left_, height_, width_;
  std::optional<bool> loop_;
};

}  // namespace launcher
