#pragma once
// The built-in movie engine on Windows: a Media Foundation Media Session, loaded at run time.

#include <windows.h>

#include <memory>

#include "launcher/twips_scale.h"
#include "player/movie_player.h"
#include "windows/skip_report.h"

namespace launcher::win32 {

// A player whose video shows over the player's rectangle in parent's client area (in a window
// parent owns); twips convert to pixels at scale. Playback never throws: without Media
// Foundation, or with a movie it can't play, the player reads as not playing. Like every control,
// it refuses a size or position no window can take. Why a movie was skipped goes to report.
std::unique_ptr<MoviePlayer> CreateMediaFoundationPlayer(HWND parent, const TwipsScale& scale,
                                                         SkipReporter report);

}  // namespace launcher::win32
