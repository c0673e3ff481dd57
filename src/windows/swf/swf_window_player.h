#pragma once
// The built-in SWF player on Windows: the portable engine with its frames in a child window over
// the player's rectangle, its sound through waveOut, MP3 through the ACM and bitmaps through WIC.

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "player/switching_player.h"
#include "vocabulary/twips_scale.h"

namespace launcher::win32 {

// Where the movie's FSCommands go (the window queues them for its message loop).
using CommandSink = std::function<void(std::wstring command, std::wstring args)>;

// A player drawing in a child window of parent, sized in twips at scale. Its frames are run from
// parent's thread by a timer of the child window, never by blocking that thread. COM must be
// initialised on the calling thread (WIC).
std::unique_ptr<SelectiveMoviePlayer> CreateSwfPlayer(HWND parent, const TwipsScale& scale,
                                                      CommandSink commands);

}  // namespace launcher::win32
