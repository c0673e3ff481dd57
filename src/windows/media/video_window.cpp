#include "windows/media/video_window.h"

#include "windows/media/mf_pipeline.h"

namespace launcher::win32::mf {
namespace {

constexpr wchar_t kVideoWindowClass[] = L"LauncherMovieVideo";

}  // namespace

VideoWindow::VideoWindow(HWND owner, Listener& listener) : owner_(owner), listener_(listener) {
  // Without the window the engine has no video, and it says so.
  static_cast<void>(
      window_.Create(GetModuleHandleW(nullptr), {.class_name = kVideoWindowClass,
                                                 .style = WS_POPUP,
                                                 .ex_style = WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW,
                                                 .parent = owner}));
}

void VideoWindow::Set(int Area::*measure, int pixels) {
  area_.*measure = pixels;
  Place();
}
void VideoWindow::SetVisible(bool visible) {
  visible_ = visible;
  Place();
}
void VideoWindow::SetHasFrame(bool has_frame) {
  has_frame_ = has_frame;
  Place();
}

void VideoWindow::Place() {
  const HWND window = window_.get();
  if (window == nullptr) return;
  const bool shown = visible_ && has_frame_;
  if (!shown && IsWindowVisible(window)) ShowWindow(window, SW_HIDE);
  // Placed also while hidden: the renderer sizes the video to the window before it shows.
  const auto [left, top, width, height] = area_;
  POINT origin{left, top};
  ClientToScreen(owner_, &origin);
  RECT now{};
  GetWindowRect(window, &now);
  const bool placed = (IsWindowVisible(window) != FALSE) == shown && now.left == origin.x &&
                      now.top == origin.y && now.right - now.left == width &&
                      now.bottom - now.top == height;
  if (placed) return;
  // A topmost owner (full screen) needs its video in the topmost band too.
  const bool topmost = (GetWindowLongPtrW(owner_, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
  SetWindowPos(window, topmost ? HWND_TOPMOST : HWND_TOP, origin.x, origin.y, width, height,
               SWP_NOACTIVATE | (shown ? SWP_SHOWWINDOW : 0));
}

void VideoWindow::Hide() {
  if (window_.get() != nullptr) ShowWindow(window_.get(), SW_HIDE);
}

LRESULT VideoWindow::OnMessage(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
  switch (message) {
    case kNotesMessage:
      listener_.ReadNotes();
      return 0;
    case WM_PAINT:
      // Bars and the moment before a frame; the renderer draws every frame itself.
      PaintBlack(window);
      return 0;
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT covers every pixel
    case WM_SIZE:
      listener_.FitVideo();
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, w_param, l_param);
}

}  // namespace launcher::win32::mf
