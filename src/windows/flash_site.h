#pragma once
// SWFPlayer on Windows: the Flash Player ActiveX control in a control site of our own, called by
// DISPID through IDispatch::Invoke, with its FSCommand event taken from its connection point.

#include <windows.h>

#include <unknwn.h>

#include <functional>
#include <memory>
#include <string>

#include "player/movie_player.h"
#include "windows/win32_window.h"

namespace launcher::win32 {

// ShockwaveFlashObjectsCtl.ShockwaveFlash
inline constexpr CLSID kFlashClassId = {
    0xD27CDB6E, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

// The control's operations, called by DISPID. Position, size and visibility are no operations of
// the control: the site applies them to the control's window and rectangle.
namespace flash {
inline constexpr DISPID kMovie = 102;
inline constexpr DISPID kLoop = 106;
inline constexpr DISPID kPlay = 112;
inline constexpr DISPID kPlaying = 125;
inline constexpr DISPID kStopPlay = 126;
inline constexpr DISPID kFSCommand = 150;  // event
}  // namespace flash

// Receives each FSCommand: the command and its arguments.
using CommandHandler = std::function<void(std::wstring command, std::wstring args)>;
// Makes a new instance of the control; the default is CoCreateInstance of kFlashClassId.
using ControlFactory = std::function<HRESULT(IUnknown** control)>;

// The player of the Flash control, or why there is none.
struct FlashControl {
  std::unique_ptr<MoviePlayer> player;
  // With no player: "Flash control: <step> failed: 0x80040154 Class not registered" or the like.
  std::wstring failure;
};

// Creates the control with its persisted settings (window mode "Window", quality "High", scale
// "ShowAll", script access "always", network access "all"), activates it in place, hidden, in a
// child window of parent at bounds (pixels), and connects its events to on_command. No player when
// the control is not installed or can't be activated: the launcher then goes on without it.
// The player never throws: a failing call skips the movie, says why in one line
// (ReportSkippedMovie, once per player) and leaves the player reading as not playing.
FlashControl CreateFlashPlayer(HWND parent, const TwipsScale& scale, const RECT& bounds,
                               CommandHandler on_command, const ControlFactory& factory = {});

}  // namespace launcher::win32
