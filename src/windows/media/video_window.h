#pragma once
// The window the movie's video is drawn in, kept over the player's rectangle of its owner: an
// owned pop-up rather than a child window, since Direct3D output into child windows is lost on
// some systems (Wine on X11 among them), while an owned pop-up shows it everywhere, stays above
// its owner, goes with it and never takes the focus. It shows from the movie's first frame on
// (until then the logo stays in view), black wherever the movie leaves bars. It is also the
// mailbox of the pipeline's notes.

#include <windows.h>

#include "windows/scoped_win.h"

namespace launcher::win32::mf {

class VideoWindow {
 public:
  // What the window asks of the engine, on the window's thread.
  class Listener {
   public:
    // The pipeline has left notes (kNotesMessage).
    virtual void ReadNotes() = 0;
    // The window's size changed: the video is to be fitted again.
    virtual void FitVideo() = 0;

   protected:
    ~Listener() = default;
  };

  // Creates the window, hidden; get() is null when it couldn't be made (GetLastError says why).
  VideoWindow(HWND owner, Listener& listener);

  [[nodiscard]] HWND get() const { return window_.get(); }

  // The player's rectangle in the owner's client area, in pixels.
  struct Area {
    int left = 0, top = 0, width = 0, height = 0;
  };
  // Sets one measure of it (&Area::top, say) and places the window.
  void Set(int Area::*measure, int pixels);
  // Whether the player is to be seen at all.
  void SetVisible(bool visible);
  // Whether the movie has a frame to show: the window shows (when visible) only from then on.
  void SetHasFrame(bool has_frame);
  // Puts the window over the player's rectangle, above the owner without taking the activation
  // from it, shown or hidden as it should be. Cheap when it is there already: called on every
  // tick of the movie, it follows an owner that moved.
  void Place();
  // Off the screen for good, before the engine goes.
  void Hide();

 private:
  friend class BoundWindow<VideoWindow>;
  LRESULT OnMessage(HWND window, UINT message, WPARAM w_param, LPARAM l_param);

  HWND owner_;
  Listener& listener_;
  Area area_;
  bool visible_ = false;
  bool has_frame_ = false;
  BoundWindow<VideoWindow> window_{*this};
};

}  // namespace launcher::win32::mf
