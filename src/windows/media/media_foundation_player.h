#pragma once
// The built-in movie engine on Windows: Media Foundation's MFPlay, loaded at run time.

#include <windows.h>

#include <memory>

#include "player/movie_player.h"

namespace launcher::win32 {

// A player whose video window is a child of parent; twips convert to pixels at twipsPerPixel.
// Never throws for a missing Media Foundation: such a player reads as not playing.
std::unique_ptr<MoviePlayer> CreateMediaFoundationPlayer(HWND parent, double twipsPerPixel);

}  // namespace launcher::win32
