#include "windows/swf/frame_window.h"

// mmsystem.h (timeBeginPeriod's declaration) needs windows.h first.
#include <windows.h>

#include <mmsystem.h>

#include "windows/win32_failure.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <utility>

namespace launcher::win32 {
namespace {

constexpr wchar_t kFrameWindowClass[] = L"LauncherSwfFrames";
constexpr UINT_PTR kDueTimer = 1;

}  // namespace

FineTimers::FineTimers() : winmm_(LoadSystemLibrary(L"winmm.dll")) {
  Period begin = nullptr;
  Period end = nullptr;
  if (!winmm_ || !FindExport(winmm_.get(), "timeBeginPeriod", begin) ||
      !FindExport(winmm_.get(), "timeEndPeriod", end)) {
    return;
  }
  if (begin(1) == TIMERR_NOERROR) end_ = end;
}

FineTimers::~FineTimers() {
  if (end_ != nullptr) end_(1);
}

FrameWindow::FrameWindow(HWND parent, const TwipsScale& scale, std::function<void()> due)
    : scale_(scale), due_(std::move(due)) {
  WindowParams params;
  params.class_name = kFrameWindowClass;
  params.style = WS_CHILD | WS_CLIPSIBLINGS;
  params.parent = parent;
  if (const char* failed = window_.Create(InstanceOf(parent), params)) ThrowLastError(failed);
}

FrameWindow::~FrameWindow() {
  if (Handle() != nullptr) ::KillTimer(Handle(), kDueTimer);
}

LRESULT FrameWindow::OnMessage(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
  switch (message) {
    case WM_TIMER:
      if (w_param != kDueTimer) break;
      ::KillTimer(window, kDueTimer);
      due_();
      return 0;
    case WM_PAINT: {
      const Painting paint(window);
      Blit(paint.dc());
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT covers every pixel
    case WM_NCHITTEST:
      return HTTRANSPARENT;  // clicks reach the window beneath, which closes on them
    default:
      break;
  }
  return ::DefWindowProcW(window, message, w_param, l_param);
}

void FrameWindow::SetVisible(bool visible) {
  visible_ = visible;
  Place();
}

void FrameWindow::SetTop(Twips top) {
  Resize(top_, top);
}
void FrameWindow::SetLeft(Twips left) {
  Resize(left_, left);
}
void FrameWindow::SetHeight(Twips height) {
  Resize(height_, height);
}
void FrameWindow::SetWidth(Twips width) {
  Resize(width_, width);
}

void FrameWindow::Resize(int& field, Twips twips) {
  const int pixels = scale_.Pixels(twips);
  // Like every control, the window refuses what no window can take.
  if (pixels < -32768 || pixels > 32767) throw std::out_of_range("size or position out of range");
  field = pixels;
  Place();
}

void FrameWindow::Place() {
  const bool shown = visible_ && presented_;
  ::SetWindowPos(Handle(), HWND_TOP, left_, top_, std::max(width_, 0), std::max(height_, 0),
                 SWP_NOACTIVATE | (shown ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
}

void FrameWindow::DrawFrame(const std::function<void(const FramePixels&)>& render) {
  if (width_ <= 0 || height_ <= 0) return;
  if (!section_ || section_width_ != width_ || section_height_ != height_) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width_;
    info.bmiHeader.biHeight = -height_;  // top-down, like the core's rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    section_.Reset(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    bits_ = section_ ? static_cast<std::uint32_t*>(bits) : nullptr;
    if (bits_ == nullptr) {
      section_.Reset();
      return;  // no memory for a frame this size: the window stays as it was
    }
    section_width_ = width_;
    section_height_ = height_;
  }
  ::GdiFlush();  // GDI is done with the section before the core writes it
  render(FramePixels{bits_, section_width_, section_height_, section_width_});
  if (!presented_) {
    presented_ = true;
    Place();
  }
  if (::IsWindowVisible(Handle())) {
    const WindowDC dc(Handle());
    Blit(dc.get());
  }
}

void FrameWindow::ClearFrame() {
  section_.Reset();  // Blit paints black without a section
  bits_ = nullptr;
  section_width_ = section_height_ = 0;
  ::InvalidateRect(Handle(), nullptr, FALSE);
}

void FrameWindow::Blit(HDC dc) const {
  RECT client{};
  ::GetClientRect(Handle(), &client);
  if (!section_) {
    ::FillRect(dc, &client, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
    return;
  }
  const MemoryDC source(::CreateCompatibleDC(dc));
  if (!source) return;
  const Selection selected(source.get(), section_.get());
  ::BitBlt(dc, 0, 0, section_width_, section_height_, source.get(), 0, 0, SRCCOPY);
}

void FrameWindow::RunAfter(unsigned milliseconds) {
  if (!fine_timers_) fine_timers_.emplace();
  ::SetTimer(Handle(), kDueTimer, std::max<unsigned>(milliseconds, USER_TIMER_MINIMUM), nullptr);
}

void FrameWindow::CancelRun() {
  ::KillTimer(Handle(), kDueTimer);
  fine_timers_.reset();
}

}  // namespace launcher::win32
