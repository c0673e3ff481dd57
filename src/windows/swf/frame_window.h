#pragma once
// The SWF player's frames on Windows: a child window over the player's rectangle that shows a
// DIB section. Each frame is drawn into the section and copied to the screen at once; WM_PAINT
// copies the same pixels and the background is never erased, so nothing flickers. The window is
// shown with its first frame (until then the logo stays in view) and lets the mouse through to
// its parent, which watches the buttons.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>

#include "player/video_layer.h"
#include "vocabulary/twips_scale.h"
#include "windows/scoped_win.h"
#include "windows/system_library.h"

namespace launcher::win32 {

// The system's timers at a millisecond for as long as it lives: by default Windows runs them on
// its 15.6 ms tick, which would show a frame due in 33 ms up to half a frame late. Nothing changes
// where winmm or its functions are missing.
class FineTimers {
 public:
  FineTimers();
  ~FineTimers();
  FineTimers(const FineTimers&) = delete;
  FineTimers& operator=(const FineTimers&) = delete;
  FineTimers(FineTimers&&) = delete;
  FineTimers& operator=(FineTimers&&) = delete;

 private:
  using Period = UINT(WINAPI*)(UINT);  // timeBeginPeriod, timeEndPeriod
  Module winmm_;
  Period end_ = nullptr;  // set once the finer period is in force
};

class FrameWindow final : public VideoLayer {
 public:
  // `due` runs on the window's thread when the timer set by RunAfter fires.
  FrameWindow(HWND parent, const TwipsScale& scale, std::function<void()> due);
  ~FrameWindow() override;
  FrameWindow(const FrameWindow&) = delete;
  FrameWindow& operator=(const FrameWindow&) = delete;
  FrameWindow(FrameWindow&&) = delete;
  FrameWindow& operator=(FrameWindow&&) = delete;

  [[nodiscard]] HWND Handle() const { return window_.get(); }

  void SetVisible(bool visible) override;
  void SetTop(Twips top) override;
  void SetLeft(Twips left) override;
  void SetHeight(Twips height) override;
  void SetWidth(Twips width) override;
  void DrawFrame(const std::function<void(const FramePixels&)>& render) override;
  void ClearFrame() override;

  // Runs `due` once, after `milliseconds` (to the millisecond while runs follow one another);
  // replaces an earlier wait.
  void RunAfter(unsigned milliseconds);
  // No run waits any more; the timers go back to the system's tick.
  void CancelRun();

  // The window's messages (BoundWindow).
  LRESULT OnMessage(HWND window, UINT message, WPARAM w_param, LPARAM l_param);

 private:
  void Resize(int& field, Twips twips);
  void Place();
  void Blit(HDC dc) const;

  TwipsScale scale_;
  std::function<void()> due_;
  Bitmap section_;
  std::uint32_t* bits_ = nullptr;
  int section_width_ = 0;
  int section_height_ = 0;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  bool visible_ = false;
  bool presented_ = false;
  std::optional<FineTimers> fine_timers_;   // while a run waits
  BoundWindow<FrameWindow> window_{*this};  // last: it goes first, before what it draws
};

}  // namespace launcher::win32
