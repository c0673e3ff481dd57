#include "linux/sdl_window.h"

#include <SDL_syswm.h>

#include <algorithm>
#include <array>
#include <string>

#include "launcher/launcher_window.h"
#include "linux/display_scale.h"
#include "window_icon.h"

namespace launcher::sdl {
namespace {

// The desktop's logical resolution, from the X resources that desktops set for their scaling.
TwipsScale DesktopScale(SDL_Window* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (SDL_GetWindowWMInfo(window, &info) != SDL_TRUE || info.subsystem != SDL_SYSWM_X11) {
    return TwipsScale();
  }
  const char* resources = XResourceManagerString(info.info.x11.display);
  return resources != nullptr ? ScaleFromResources(resources) : TwipsScale();
}

// The part of a picture drawn unstretched at the top-left corner of a rectangle.
void DrawClipped(SDL_Renderer* renderer, SDL_Texture* texture, const SdlPicture& picture,
                 const SDL_Rect& area) {
  const SDL_Rect source{0, 0, std::min(picture.Width(), area.w),
                        std::min(picture.Height(), area.h)};
  const SDL_Rect target{area.x, area.y, source.w, source.h};
  SDL_RenderCopy(renderer, texture, &source, &target);
}

// The Windows window icon's picture, so that task bars show the launcher's own icon.
void SetLauncherIcon(SDL_Window* window) {
  using resources::kWindowIconSize;
  std::array pixels = resources::kWindowIconRgba;  // SDL copies it, but wants it writable
  const SurfacePtr icon(SDL_CreateRGBSurfaceWithFormatFrom(pixels.data(), kWindowIconSize,
                                                           kWindowIconSize, 32, kWindowIconSize * 4,
                                                           SDL_PIXELFORMAT_RGBA32));
  if (icon) SDL_SetWindowIcon(window, icon.get());  // a window without an icon works all the same
}

}  // namespace

// --- PictureTexture ---

void PictureTexture::Set(PictureRef picture) {
  if (picture == picture_) return;
  picture_ = std::move(picture);
  sdl_picture_ = nullptr;
  if (const launcher::Picture* raw = picture_.get()) {
    sdl_picture_ = dynamic_cast<const SdlPicture*>(raw);
  }
  texture_.reset();
}

const SdlPicture* PictureTexture::Picture() const {
  return sdl_picture_;
}

SDL_Texture* PictureTexture::Texture(SDL_Renderer* renderer) {
  const SdlPicture* picture = Picture();
  if (picture == nullptr) return nullptr;
  if (!texture_) {
    texture_.reset(SDL_CreateTextureFromSurface(renderer, picture->Surface()));
    if (texture_) SDL_SetTextureScaleMode(texture_.get(), SDL_ScaleModeLinear);
  }
  return texture_.get();
}

// --- SdlImage ---

SdlImage::SdlImage(SdlWindow& window)
    : window_(window),
      rect_{created::kImage.left, created::kImage.top, created::kImage.width,
            created::kImage.height} {}

void SdlImage::SetTop(Twips top) {
  rect_.top = top;
  window_.Invalidate();
}
void SdlImage::SetLeft(Twips left) {
  rect_.left = left;
  window_.Invalidate();
}
void SdlImage::SetStretch(bool stretch) {
  stretch_ = stretch;
  window_.Invalidate();
}
void SdlImage::SetPicture(PictureRef picture) {
  picture_.Set(std::move(picture));
  window_.Invalidate();
}
void SdlImage::SetHeight(Twips height) {
  rect_.height = height;
  window_.Invalidate();
}
void SdlImage::SetWidth(Twips width) {
  rect_.width = width;
  window_.Invalidate();
}

void SdlImage::Draw(SDL_Renderer* renderer) {
  const SdlPicture* picture = picture_.Picture();
  SDL_Texture* texture = picture_.Texture(renderer);
  if (picture == nullptr || texture == nullptr) return;
  const SDL_Rect area = window_.ToPixels(rect_);
  if (stretch_) {
    SDL_RenderCopy(renderer, texture, nullptr, &area);
  } else {
    DrawClipped(renderer, texture, *picture, area);
  }
}

// --- SdlPictureBox ---

SdlPictureBox::SdlPictureBox(SdlWindow& window)
    : window_(window),
      rect_{created::kLogo.left, created::kLogo.top, created::kLogo.width, created::kLogo.height} {}

void SdlPictureBox::SetVisible(bool visible) {
  visible_ = visible;
  window_.Invalidate();
}

void SdlPictureBox::SetAutoSize(bool auto_size) {
  auto_size_ = auto_size;
  FitPicture();
}

void SdlPictureBox::SetPicture(PictureRef picture) {
  texture_.Set(picture);
  if (picture && texture_.Picture() == nullptr) {
    texture_.Set(picture_);
    throw std::invalid_argument("not a picture of this window system");
  }
  picture_ = std::move(picture);
  FitPicture();
}

void SdlPictureBox::FitPicture() {
  const SdlPicture* picture = texture_.Picture();
  if (auto_size_ && picture != nullptr) {
    rect_.width = window_.ToTwips(picture->Width());
    rect_.height = window_.ToTwips(picture->Height());
  }
  window_.Invalidate();
}

PictureRef SdlPictureBox::Picture() const {
  return picture_;
}

void SdlPictureBox::SetTop(Twips top) {
  rect_.top = top;
  window_.Invalidate();
}
void SdlPictureBox::SetLeft(Twips left) {
  rect_.left = left;
  window_.Invalidate();
}
Twips SdlPictureBox::Height() const {
  return rect_.height;
}
Twips SdlPictureBox::Width() const {
  return rect_.width;
}
void SdlPictureBox::SetHeight(Twips height) {
  rect_.height = height;
  window_.Invalidate();
}
void SdlPictureBox::SetWidth(Twips width) {
  rect_.width = width;
  window_.Invalidate();
}

void SdlPictureBox::Draw(SDL_Renderer* renderer) {
  if (!visible_) return;
  const SdlPicture* picture = texture_.Picture();
  SDL_Texture* texture = texture_.Texture(renderer);
  if (picture != nullptr && texture != nullptr) {
    DrawClipped(renderer, texture, *picture, window_.ToPixels(rect_));
  }
}

// --- SdlVideoLayer ---

SdlVideoLayer::SdlVideoLayer(SdlWindow& window)
    : window_(window),
      rect_{created::kPlayer.left, created::kPlayer.top, created::kPlayer.width,
            created::kPlayer.height} {}

template <typename Mutation>
void SdlVideoLayer::Change(Mutation mutate) {
  const bool shown = Shows();
  mutate();
  if (shown || Shows()) window_.Invalidate();
}

bool SdlVideoLayer::Shows() const {
  return visible_ && has_frame_ && texture_;
}

void SdlVideoLayer::SetVisible(bool visible) {
  Change([&] { visible_ = visible; });
}
void SdlVideoLayer::SetTop(Twips top) {
  Change([&] { rect_.top = top; });
}
void SdlVideoLayer::SetLeft(Twips left) {
  Change([&] { rect_.left = left; });
}
void SdlVideoLayer::SetHeight(Twips height) {
  Change([&] { rect_.height = height; });
}
void SdlVideoLayer::SetWidth(Twips width) {
  Change([&] { rect_.width = width; });
}

void SdlVideoLayer::DrawFrame(const std::function<void(const FramePixels&)>& render) {
  const SDL_Rect area = window_.ToPixels(rect_);
  if (area.w <= 0 || area.h <= 0) return;
  if (!texture_ || texture_width_ != area.w || texture_height_ != area.h) {
    // XRGB8888 is "bgr0" in memory on little-endian machines, the layout the player renders.
    texture_.reset(SDL_CreateTexture(window_.Renderer(), SDL_PIXELFORMAT_RGB888,
                                     SDL_TEXTUREACCESS_STREAMING, area.w, area.h));
    // Without memory for the picture the layer stays black; the movie plays on all the same.
    if (!texture_) return;
    texture_width_ = area.w;
    texture_height_ = area.h;
  }
  void* pixels = nullptr;
  int pitch = 0;
  if (SDL_LockTexture(texture_.get(), nullptr, &pixels, &pitch) != 0) return;
  struct Unlock {
    SDL_Texture* texture;
    ~Unlock() { SDL_UnlockTexture(texture); }
  } unlock{texture_.get()};
  // A 32-bit texture's pitch is a whole number of pixels.
  render({static_cast<std::uint32_t*>(pixels), area.w, area.h, pitch / 4});
  has_frame_ = true;
  if (Shows()) window_.Invalidate();
}

void SdlVideoLayer::ClearFrame() {
  Change([&] { has_frame_ = false; });
}

bool SdlVideoLayer::Covers(const SDL_Rect& area) const {
  if (!Shows()) return false;
  const SDL_Rect own = window_.ToPixels(rect_);
  return own.x <= area.x && own.y <= area.y && own.x + own.w >= area.x + area.w &&
         own.y + own.h >= area.y + area.h;
}

void SdlVideoLayer::Draw(SDL_Renderer* renderer) {
  if (!Shows()) return;
  const SDL_Rect area = window_.ToPixels(rect_);
  SDL_RenderCopy(renderer, texture_.get(), nullptr, &area);
}

// --- SdlWindow ---

SdlWindow::SdlWindow() {
  const std::string caption(created::kCaption);
  window_.reset(SDL_CreateWindow(caption.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                 ToPixels(created::kWindowWidth), ToPixels(created::kWindowHeight),
                                 SDL_WINDOW_HIDDEN | SDL_WINDOW_BORDERLESS));
  if (!window_) throw SdlError("can't create the window");
  SetLauncherIcon(window_.get());
  renderer_.reset(SDL_CreateRenderer(window_.get(), -1, SDL_RENDERER_SOFTWARE));
  if (!renderer_) throw SdlError("can't draw on the window");

  const TwipsScale scale = DesktopScale(window_.get());
  if (scale.TwipsPerPixel() != scale_.TwipsPerPixel()) {
    scale_ = scale;
    SDL_SetWindowSize(window_.get(), ToPixels(created::kWindowWidth),
                      ToPixels(created::kWindowHeight));
  }
}

int SdlWindow::ToPixels(Twips twips) const {
  return scale_.Pixels(twips);
}

Twips SdlWindow::ToTwips(int pixels) const {
  return scale_.FromPixels(pixels);
}

SDL_Rect SdlWindow::ToPixels(const TwipsRect& rect) const {
  return {ToPixels(rect.left), ToPixels(rect.top), ToPixels(rect.width), ToPixels(rect.height)};
}

Twips SdlWindow::Height() const {
  int width = 0, height = 0;
  SDL_GetWindowSize(window_.get(), &width, &height);
  return ToTwips(height);
}

Twips SdlWindow::Width() const {
  int width = 0, height = 0;
  SDL_GetWindowSize(window_.get(), &width, &height);
  return ToTwips(width);
}

void SdlWindow::SetHeight(Twips height) {
  int width = 0, current = 0;
  SDL_GetWindowSize(window_.get(), &width, &current);
  SDL_SetWindowSize(window_.get(), width, std::max(1, ToPixels(height)));
  Invalidate();
}

void SdlWindow::SetWidth(Twips width) {
  int current = 0, height = 0;
  SDL_GetWindowSize(window_.get(), &current, &height);
  SDL_SetWindowSize(window_.get(), std::max(1, ToPixels(width)), height);
  Invalidate();
}

WindowHandle SdlWindow::Handle() const {
  return static_cast<WindowHandle>(SDL_GetWindowID(window_.get()));
}

void SdlWindow::Dismiss() noexcept {
  dismissed_ = true;
  SDL_HideWindow(window_.get());
}

void SdlWindow::Place(int x, int y, int width, int height, bool topmost) {
  // A plain move and resize: a full-screen state would need a window manager to take effect.
  SDL_SetWindowPosition(window_.get(), x, y);
  SDL_SetWindowSize(window_.get(), std::max(1, width), std::max(1, height));
  if (topmost) SDL_SetWindowAlwaysOnTop(window_.get(), SDL_TRUE);
  placed_ = true;
  Invalidate();
}

void SdlWindow::Show() {
  if (dismissed_) return;
  if (!placed_)
    SDL_SetWindowPosition(window_.get(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
  SDL_ShowWindow(window_.get());
  SDL_RaiseWindow(window_.get());
  shown_ = true;
  Invalidate();
}

void SdlWindow::RedrawIfNeeded() {
  if (!dirty_ || !shown_ || dismissed_) return;
  dirty_ = false;
  SDL_Renderer* renderer = renderer_.get();
  // Stacking: the image on the window's surface, then the child windows in creation order. What
  // a movie frame hides is not drawn: the software renderer would stretch the logo beneath every
  // frame, and a tick due meanwhile would wait for it.
  int width = 0, height = 0;
  SDL_GetWindowSize(window_.get(), &width, &height);
  if (!video_.Covers({0, 0, width, height})) {
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, SDL_ALPHA_OPAQUE);
    SDL_RenderClear(renderer);
    image_.Draw(renderer);
  }
  video_.Draw(renderer);
  logo_.Draw(renderer);
  SDL_RenderPresent(renderer);
}

}  // namespace launcher::sdl
