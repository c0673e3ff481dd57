#pragma once
// The built-in movie engine on Windows: Media Foundation's Media Session with the enhanced video
// renderer and the audio renderer, loaded at run time.
//
// Threading:
// - The player lives on the window's thread and does all its own work there: every MoviePlayer
//   call, the pipeline's notes (taken when the video window gets kNotesMessage) and the refit of
//   the video on the video window's WM_SIZE. It never waits on Media Foundation while the window
//   is up; only its destructor waits a bounded while for its pipelines to close.
// - Each movie's pipeline (mf_pipeline.h) opens the movie, builds its topology and runs the
//   session's events on Media Foundation's work-queue threads, and reports to the window's thread
//   through notes; its header states its locking. A pipeline let go of closes on those threads
//   and outlives the player's use of it.
// - COM: the window's thread joins a single-threaded apartment for the player's life (the program
//   has joined one already with OLE); the work-queue threads that build a topology join the
//   multithreaded one for that while.

#include <windows.h>

#include <memory>

#include "player/movie_player.h"
#include "player/skip_once.h"
#include "vocabulary/twips_scale.h"
#include "windows/media/mf_api.h"

namespace launcher::win32 {

// A player whose video shows over the player's rectangle in parent's client area (in a window
// parent owns); twips convert to pixels at scale. Playback never throws: without Media
// Foundation, or with a movie it can't play, the player reads as not playing, and why goes to
// report (once). Like every control, it refuses a size or position no window can take. The same
// movie set again while it is opening, and played again, costs nothing: one pipeline plays it.
std::unique_ptr<MoviePlayer> CreateMediaFoundationPlayer(HWND parent, const TwipsScale& scale,
                                                         SkipReporter report);

// The same with Media Foundation's functions as given (LoadApi's, or some of them wrapped).
std::unique_ptr<MoviePlayer> CreateMediaFoundationPlayer(HWND parent, const TwipsScale& scale,
                                                         SkipReporter report,
                                                         const mf::MediaFoundationApi& api);

}  // namespace launcher::win32
