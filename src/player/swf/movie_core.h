#pragma once
// The interface through which the engine drives the SWF core: one loaded movie and its player.
// The product implements it over swf::Player (swf_player_core.h); tests through fakes.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "player/fscommand_chapter.h"
#include "player/swf/swf_platform.h"

namespace launcher::swfplayer {

class MovieCore {
 public:
  MovieCore() = default;
  virtual ~MovieCore() = default;
  MovieCore(const MovieCore&) = delete;
  MovieCore& operator=(const MovieCore&) = delete;
  MovieCore(MovieCore&&) = delete;
  MovieCore& operator=(MovieCore&&) = delete;

  // Frames per second as the movie says (may be 0 or absurd: the engine bounds it).
  [[nodiscard]] virtual double FrameRate() const = 0;
  // With loop false (the launcher's setting) the main timeline stops on its last frame.
  virtual void SetLoop(bool loop) = 0;
  virtual void Play() = 0;
  virtual void StopPlay() = 0;
  // True while the main timeline advances.
  [[nodiscard]] virtual bool Playing() const = 0;
  // Samples the sound device has taken from PullAudio and not yet played: a stream sound paces
  // the frames by the sample heard, this many before the last one pulled.
  virtual void SetOutputDelay(std::uint64_t samples) = 0;
  // Runs the frames due by `seconds` on the engine's clock since Play.
  virtual void AdvanceTo(double seconds) = 0;
  // When the next frame is due, on AdvanceTo's clock.
  [[nodiscard]] virtual double NextFrameTime() const = 0;
  // The main timeline's frame now, 1-based (0 before the first).
  [[nodiscard]] virtual int CurrentFrame() const = 0;
  // Draws the current frame, the stage fitted into the memory with its proportions kept.
  virtual void Render(const FramePixels& frame) = 0;
  // FSCommands sent since the last call, oldest first.
  [[nodiscard]] virtual std::vector<MovieCommand> TakeCommands() = 0;
  // The next samples of the mix; called from the sound device's thread.
  virtual void PullAudio(std::span<std::int16_t> stereo) = 0;
};

// A movie ready to play, or why the file can't be played (no core then).
struct LoadedCore {
  std::unique_ptr<MovieCore> core;
  std::string refusal;
  // What the movie holds that the core plays without (a video it can't decode), for another
  // engine: e.g. "video codec 4 (VP6) is not decoded". Empty when it shows it all.
  std::string left_for_others;
};

// Reads a movie from a file as it plays; never throws for what a file holds.
using CoreLoader = std::function<LoadedCore(std::unique_ptr<swf::ByteSource> file)>;

}  // namespace launcher::swfplayer
