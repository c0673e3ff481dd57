#pragma once
// The window Main on Win32: one borderless top-level window, its timer, the hidden picture box
// Logo and the image ImgTemp painted on the window's own surface. Sizes cross the handlers'
// interfaces in twips and are kept in pixels at the window's DPI.

#include <windows.h>

#include <deque>
#include <memory>
#include <string>

#include "launcher/event_dispatch.h"
#include "launcher/window_parts.h"
#include "vocabulary/twips_scale.h"
#include "windows/scoped_win.h"

namespace launcher::win32 {

// The scale at the DPI of the monitor the window is on (the program is per-monitor DPI aware),
// or the system's on Windows older than 10.
TwipsScale WindowScale(HWND window);

class PaintedImage;

// The window itself. Created hidden with the created caption and client size; the program owns
// it and destroys it after its message loop.
class MainWindow final : public Form {
 public:
  // Registers the window class (with its icon) on first use and creates the window, hidden.
  MainWindow(HINSTANCE instance, HICON icon);

  [[nodiscard]] HWND hwnd() const { return window_.get(); }
  [[nodiscard]] const TwipsScale& Scale() const { return scale_; }

  // Where the window delivers its events, and the image it paints; both outlive the loop.
  void Attach(EventDispatcher& dispatcher) { dispatcher_ = &dispatcher; }
  void SetSurfaceImage(PaintedImage* image) { image_ = image; }

  // A command from the movie. It is delivered from the message loop, never inside a running
  // handler, so that events stay one at a time even when a control raises one during a call.
  void QueueCommand(std::wstring command, std::wstring args);

  // Shows the loaded window. A window that no full-screen layout placed is centred on the
  // primary monitor first.
  void Show();
  // Delivers messages until the window is dismissed or the thread is told to quit.
  void RunMessageLoop();
  [[nodiscard]] bool Dismissed() const { return dismissed_; }

  [[nodiscard]] Twips Height() const override;
  [[nodiscard]] Twips Width() const override;
  void SetHeight(Twips height) override;
  void SetWidth(Twips width) override;
  [[nodiscard]] WindowHandle Handle() const override;
  void Dismiss() noexcept override;

  static constexpr UINT_PTR kTimerId = 1;

 private:
  friend class BoundWindow<MainWindow>;
  LRESULT OnMessage(HWND window, UINT message, WPARAM w_param, LPARAM l_param);
  void DeliverCommand();
  [[nodiscard]] SIZE ClientSize() const;
  void Resize(int width, int height);

  BoundWindow<MainWindow> window_{*this};
  TwipsScale scale_;
  EventDispatcher* dispatcher_ = nullptr;
  PaintedImage* image_ = nullptr;
  std::deque<std::pair<std::wstring, std::wstring>> commands_;
  bool dismissed_ = false;
};

// Timer: WM_TIMER on the window, delivered as the window's tick.
class WindowTimer final : public TimerControl {
 public:
  explicit WindowTimer(MainWindow& window) : window_(window) {}
  void SetInterval(int milliseconds) override;

 private:
  MainWindow& window_;
};

// Logo: a child window that holds a picture; with automatic sizing it takes the picture's size.
class PictureBoxWindow final : public PictureBox {
 public:
  PictureBoxWindow(MainWindow& parent, const RECT& created);

  void SetVisible(bool visible) override;
  void SetAutoSize(bool auto_size) override;
  void SetPicture(PictureRef picture) override;
  [[nodiscard]] PictureRef Picture() const override { return picture_; }
  void SetTop(Twips top) override;
  void SetLeft(Twips left) override;
  [[nodiscard]] Twips Height() const override;
  [[nodiscard]] Twips Width() const override;
  void SetHeight(Twips height) override;
  void SetWidth(Twips width) override;

 private:
  friend class BoundWindow<PictureBoxWindow>;
  LRESULT OnMessage(HWND window, UINT message, WPARAM w_param, LPARAM l_param);
  [[nodiscard]] RECT Bounds() const;
  void Place(const RECT& bounds);
  void FitPicture();

  const TwipsScale& scale_;
  BoundWindow<PictureBoxWindow> window_{*this};
  PictureRef picture_;
  bool auto_size_ = false;
};

// ImgTemp: no window of its own; the main window paints it beneath every child window.
class PaintedImage final : public ImageControl {
 public:
  PaintedImage(MainWindow& surface, const RECT& created);

  void SetTop(Twips top) override;
  void SetLeft(Twips left) override;
  void SetStretch(bool stretch) override;
  void SetPicture(PictureRef picture) override;
  void SetHeight(Twips height) override;
  void SetWidth(Twips width) override;

  void Paint(HDC dc) const;

 private:
  void Changed();

  MainWindow& surface_;
  RECT bounds_;
  bool stretch_ = false;
  PictureRef picture_;
};

// A rectangle given in twips (left, top, width, height) in pixels.
RECT PixelRect(const TwipsScale& scale, Twips left, Twips top, Twips width, Twips height);

}  // namespace launcher::win32
