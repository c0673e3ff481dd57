#include "windows/win32_window.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "launcher/launcher_window.h"
#include "windows/scoped_win.h"
#include "windows/wic_picture.h"
#include "windows/win32_failure.h"
#include "windows/win32_text_rules.h"

namespace launcher::win32 {
namespace {

constexpr wchar_t kWindowClass[] = L"LauncherMain";
constexpr wchar_t kPictureBoxClass[] = L"LauncherPictureBox";
constexpr wchar_t kCaption[] = L"Game";
// Posted for each queued movie command.
constexpr UINT kCommandMessage = WM_APP + 1;

unsigned WindowDpi(HWND window) {
  // GetDpiForWindow exists from Windows 10 (1607) on; the program also runs on 7 and 8.1.
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  if (HMODULE user32 = ::GetModuleHandleW(L"user32.dll")) {
    if (FARPROC proc = ::GetProcAddress(user32, "GetDpiForWindow")) {
      const auto get_dpi = reinterpret_cast<GetDpiForWindowFunction>(
          reinterpret_cast<void (*)()>(proc));  // through void(*)(): any function type
      if (const UINT dpi = get_dpi(window); dpi != 0) return dpi;
    }
  }
  if (const WindowDC screen(nullptr); screen.get() != nullptr) {
    if (const int logical = ::GetDeviceCaps(screen.get(), LOGPIXELSX); logical > 0) {
      return static_cast<unsigned>(logical);
    }
  }
  return USER_DEFAULT_SCREEN_DPI;
}

}  // namespace

// ---- Scale

TwipsScale WindowScale(HWND window) {
  return TwipsScale(WindowDpi(window));
}

RECT PixelRect(const TwipsScale& scale, Twips left, Twips top, Twips width, Twips height) {
  const int x = scale.Pixels(left);
  const int y = scale.Pixels(top);
  return RECT{x, y, x + scale.Pixels(width), y + scale.Pixels(height)};
}

// ---- MainWindow

MainWindow::MainWindow(HINSTANCE instance, HICON icon) {
  // Created at the primary monitor's corner so that its DPI is the primary monitor's; the size
  // follows once that DPI is known. WS_CLIPCHILDREN: the image is painted beneath the children.
  if (const char* failed = window_.Create(instance, {.class_name = kWindowClass,
                                                     .caption = kCaption,
                                                     .style = WS_POPUP | WS_CLIPCHILDREN,
                                                     .icon = icon})) {
    ThrowLastError(failed);
  }
  scale_ = WindowScale(hwnd());
  Resize(scale_.Pixels(created::kWindowWidth), scale_.Pixels(created::kWindowHeight));
}

void MainWindow::QueueCommand(std::wstring command, std::wstring args) {
  if (dismissed_ || hwnd() == nullptr) return;
  commands_.emplace_back(std::move(command), std::move(args));
  if (!::PostMessageW(hwnd(), kCommandMessage, 0, 0)) commands_.pop_back();
}

void MainWindow::DeliverCommand() {
  if (commands_.empty()) return;
  auto [command, args] = std::move(commands_.front());
  commands_.pop_front();
  if (dispatcher_ != nullptr && !dismissed_) dispatcher_->Command(ToUtf8(command), ToUtf8(args));
}

void MainWindow::Show() {
  if ((::GetWindowLongPtrW(hwnd(), GWL_EXSTYLE) & WS_EX_TOPMOST) == 0) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (::GetMonitorInfoW(::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
      const RECT& area = monitor.rcWork;
      const SIZE size = ClientSize();
      const int x = area.left + std::max(0L, (area.right - area.left - size.cx) / 2);
      const int y = area.top + std::max(0L, (area.bottom - area.top - size.cy) / 2);
      ::SetWindowPos(hwnd(), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  ::ShowWindow(hwnd(), SW_SHOW);
  ::UpdateWindow(hwnd());
}

void MainWindow::RunMessageLoop() {
  MSG message{};
  while (!dismissed_) {
    const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got == 0 || got == -1) {
      // Someone told the thread to quit: that closes the window like any other close.
      if (dispatcher_ != nullptr && !dismissed_) dispatcher_->CloseRequest();
      break;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

SIZE MainWindow::ClientSize() const {
  RECT client{};
  if (!::GetClientRect(hwnd(), &client)) ThrowLastError("GetClientRect");
  return SIZE{client.right - client.left, client.bottom - client.top};
}

void MainWindow::Resize(int width, int height) {
  // No frame: the outer size is the client size.
  if (!::SetWindowPos(hwnd(), nullptr, 0, 0, width, height,
                      SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE)) {
    ThrowLastError("SetWindowPos");
  }
}

Twips MainWindow::Height() const {
  return scale_.FromPixels(ClientSize().cy);
}
Twips MainWindow::Width() const {
  return scale_.FromPixels(ClientSize().cx);
}
void MainWindow::SetHeight(Twips height) {
  Resize(ClientSize().cx, scale_.Pixels(height));
}
void MainWindow::SetWidth(Twips width) {
  Resize(scale_.Pixels(width), ClientSize().cy);
}

WindowHandle MainWindow::Handle() const {
  return reinterpret_cast<WindowHandle>(hwnd());
}

void MainWindow::Dismiss() noexcept {
  if (dismissed_) return;
  dismissed_ = true;
  commands_.clear();
  if (hwnd() != nullptr) {
    ::KillTimer(hwnd(), kTimerId);
    ::ShowWindow(hwnd(), SW_HIDE);
  }
}

LRESULT MainWindow::OnMessage(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
  switch (message) {
    case WM_TIMER:
      if (w_param == kTimerId) {
        if (dispatcher_ != nullptr && !dismissed_) dispatcher_->Tick();
        return 0;
      }
      break;
    case kCommandMessage:
      DeliverCommand();
      return 0;
    case WM_CLOSE:
      // The window is never destroyed here: the unload runs, and the loop ends after it.
      if (dispatcher_ != nullptr && !dismissed_) dispatcher_->CloseRequest();
      return 0;
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT covers every pixel
    case WM_PAINT:
      PaintBlack(window, [this](HDC dc) {
        if (image_ != nullptr) image_->Paint(dc);
      });
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(window, message, w_param, l_param);
}

// ---- WindowTimer

void WindowTimer::SetInterval(int milliseconds) {
  if (milliseconds < 0) throw std::out_of_range("timer interval");
  HWND window = window_.hwnd();
  if (window == nullptr || window_.Dismissed()) return;
  if (milliseconds == 0) {
    ::KillTimer(window, MainWindow::kTimerId);
    return;
  }
  if (::SetTimer(window, MainWindow::kTimerId, static_cast<UINT>(milliseconds), nullptr) == 0) {
    ThrowLastError("SetTimer");
  }
}

// ---- PictureBoxWindow

PictureBoxWindow::PictureBoxWindow(MainWindow& parent, const RECT& created)
    : scale_(parent.Scale()) {
  // No border; visible like a freshly created control (the load handler hides it at once).
  if (const char* failed =
          window_.Create(InstanceOf(parent.hwnd()), {.class_name = kPictureBoxClass,
                                                     .caption = L"Logo",
                                                     .style = WS_CHILD | WS_VISIBLE,
                                                     .bounds = created,
                                                     .parent = parent.hwnd()})) {
    ThrowLastError(std::string(failed) + " (Logo)");
  }
}

LRESULT PictureBoxWindow::OnMessage(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
  if (message != WM_PAINT) return ::DefWindowProcW(window, message, w_param, l_param);
  PaintBlack(window, [&](HDC dc) {
    if (!picture_) return;
    RECT client{};
    ::GetClientRect(window, &client);
    static_cast<const WicPicture&>(*picture_).Paint(dc, client, false);
  });
  return 0;
}

RECT PictureBoxWindow::Bounds() const {
  const HWND window = window_.get();
  RECT bounds{};
  if (!::GetWindowRect(window, &bounds)) ThrowLastError("GetWindowRect (Logo)");
  ::MapWindowPoints(HWND_DESKTOP, ::GetParent(window), reinterpret_cast<POINT*>(&bounds), 2);
  return bounds;
}

void PictureBoxWindow::Place(const RECT& bounds) {
  if (!::SetWindowPos(window_.get(), nullptr, bounds.left, bounds.top, bounds.right - bounds.left,
                      bounds.bottom - bounds.top, SWP_NOZORDER | SWP_NOACTIVATE)) {
    ThrowLastError("SetWindowPos (Logo)");
  }
}

void PictureBoxWindow::FitPicture() {
  if (!auto_size_ || !picture_) return;
  const auto& picture = static_cast<const WicPicture&>(*picture_);
  RECT bounds = Bounds();
  bounds.right = bounds.left + picture.Width();
  bounds.bottom = bounds.top + picture.Height();
  Place(bounds);
}

void PictureBoxWindow::SetVisible(bool visible) {
  ::ShowWindow(window_.get(), visible ? SW_SHOW : SW_HIDE);
}

void PictureBoxWindow::SetAutoSize(bool auto_size) {
  auto_size_ = auto_size;
  FitPicture();
}

void PictureBoxWindow::SetPicture(PictureRef picture) {
  if (picture && dynamic_cast<const WicPicture*>(picture.get()) == nullptr) {
    throw std::invalid_argument("Logo: not a picture of this platform");
  }
  picture_ = std::move(picture);
  FitPicture();
  ::InvalidateRect(window_.get(), nullptr, TRUE);
}

void PictureBoxWindow::SetTop(Twips top) {
  RECT bounds = Bounds();
  ::OffsetRect(&bounds, 0, scale_.Pixels(top) - bounds.top);
  Place(bounds);
}

void PictureBoxWindow::SetLeft(Twips left) {
  RECT bounds = Bounds();
  ::OffsetRect(&bounds, scale_.Pixels(left) - bounds.left, 0);
  Place(bounds);
}

Twips PictureBoxWindow::Height() const {
  const RECT bounds = Bounds();
  return scale_.FromPixels(bounds.bottom - bounds.top);
}

Twips PictureBoxWindow::Width() const {
  const RECT bounds = Bounds();
  return scale_.FromPixels(bounds.right - bounds.left);
}

void PictureBoxWindow::SetHeight(Twips height) {
  RECT bounds = Bounds();
  bounds.bottom = bounds.top + scale_.Pixels(height);
  Place(bounds);
}

void PictureBoxWindow::SetWidth(Twips width) {
  RECT bounds = Bounds();
  bounds.right = bounds.left + scale_.Pixels(width);
  Place(bounds);
}

// ---- PaintedImage

PaintedImage::PaintedImage(MainWindow& surface, const RECT& created)
    : surface_(surface), bounds_(created) {
  surface_.SetSurfaceImage(this);
}

void PaintedImage::Changed() {
  if (surface_.hwnd() != nullptr) ::InvalidateRect(surface_.hwnd(), nullptr, FALSE);
}

void PaintedImage::SetTop(Twips top) {
  ::OffsetRect(&bounds_, 0, surface_.Scale().Pixels(top) - bounds_.top);
  Changed();
}

void PaintedImage::SetLeft(Twips left) {
  ::OffsetRect(&bounds_, surface_.Scale().Pixels(left) - bounds_.left, 0);
  Changed();
}

void PaintedImage::SetStretch(bool stretch) {
  stretch_ = stretch;
  Changed();
}

void PaintedImage::SetPicture(PictureRef picture) {
  if (picture && dynamic_cast<const WicPicture*>(picture.get()) == nullptr) {
    throw std::invalid_argument("ImgTemp: not a picture of this platform");
  }
  picture_ = std::move(picture);
  Changed();
}

void PaintedImage::SetHeight(Twips height) {
  bounds_.bottom = bounds_.top + surface_.Scale().Pixels(height);
  Changed();
}

void PaintedImage::SetWidth(Twips width) {
  bounds_.right = bounds_.left + surface_.Scale().Pixels(width);
  Changed();
}

void PaintedImage::Paint(HDC dc) const {
  if (!picture_) return;
  static_cast<const WicPicture&>(*picture_).Paint(dc, bounds_, stretch_);
}

}  // namespace launcher::win32
