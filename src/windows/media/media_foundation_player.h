#pragma once
// The built-in movie engine on Windows: Media Foundation's MFPlay, loaded at run time.

#include <windows.h>

#include <memory>

#include "player/movie_player.h"

namespace launcher::win32 {

// A player whose video shows over the player's rectangle in parent's client area (in a window
// parent owns); twips convert to pixels at twipsPerPixel. Never throws: without Media Foundation,
// or with a movie it can't play, the player reads as not playing.
std::unique_ptr<MoviePlayer> CreateMediaFoundationPlayer(HWND parent, double twipsPerPixel);

}  // namespace launcher::win32
