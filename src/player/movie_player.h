#pragma once
// The movie player control as the launcher's handlers use it. Sizes are twips; a failing call
// throws. Engines: the Flash control and Media Foundation on Windows, libmpv on Linux.

#include "vocabulary/path_text.h"
#include "vocabulary/twips_scale.h"

namespace launcher {

class MoviePlayer {
 public:
  virtual ~MoviePlayer() = default;

  // Container properties: where the player sits on the window, and whether it is seen. Shown,
  // it covers the logo beneath it.
  virtual void SetVisible(bool visible) = 0;
  virtual void SetTop(Twips top) = 0;
  virtual void SetLeft(Twips left) = 0;
  virtual void SetHeight(Twips height) = 0;
  virtual void SetWidth(Twips width) = 0;

  // With Loop false the movie plays once.
  virtual void SetLoop(bool loop) = 0;
  // Loads the movie at a full path; Play starts it.
  virtual void SetMovie(const PathText& path) = 0;
  virtual void Play() = 0;
  // True from Play on; false once the movie has ended, failed or was stopped.
  [[nodiscard]] virtual bool Playing() = 0;
  virtual void StopPlay() = 0;
};

}  // namespace launcher
