#include "linux/sdl_window.h"

#include <SDL_image.h>
#include <SDL_syswm.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "launcher/launcher_window.h"
#include "linux/display_scale.h"

namespace launcher::sdl {
namespace {

std::runtime_error SdlError(const std::string& what) {
  return std::runtime_error(what + ": " + SDL_GetError());
}

// The desktop's logical resolution, from the X resources that desktops set for their scaling.
double DesktopTwipsPerPixel(SDL_Window* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (SDL_GetWindowWMInfo(window, &info) != SDL_TRUE || info.subsystem != SDL_SYSWM_X11) {
    return kDefaultTwipsPerPixel;
  }
  const char* resources = XResourceManagerString(info.info.x11.display);
  return resources != nullptr ? TwipsPerPixelFromResources(resources) : kDefaultTwipsPerPixel;
}

// The part of a picture drawn unstretched at the top-left corner of a rectangle.
void DrawClipped(SDL_Renderer* renderer, SDL_Texture* texture, const SdlPicture& picture,
                 const SDL_Rect& area) {
  const SDL_Rect source{0, 0, std::min(picture.Width(), area.w),
                        std::min(picture.Height(), area.h)};
  const SDL_Rect target{area.x, area.y, source.w, source.h};
  SDL_RenderCopy(renderer, texture, &source, &target);
}

}  // namespace

SdlVideo::SdlVideo() {
  // The software renderer draws straight into the window's shared-memory image; without these
  // hints SDL would load the OpenGL stack to present it.
  SDL_SetHint(SDL_HINT_RENDER_DRIVER, "software");
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
  // Only a display someone looks at: SDL would otherwise fall back to drawing off screen, and the
  // launcher would wait for a key that nobody can press.
  SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11,wayland");
  // A busy X server may turn a connection away now and then; a second try is cheap.
  constexpr int kAttempts = 3;
  constexpr Uint32 kRetryMilliseconds = 50;
  for (int attempt = 1; SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER) != 0; ++attempt) {
    if (attempt == kAttempts) {
      const std::runtime_error error = SdlError("can't open the display");
      SDL_Quit();
      throw error;
    }
    SDL_Delay(kRetryMilliseconds);
  }
  // The window reads the keyboard by polling; text input would only cost an input method.
  SDL_StopTextInput();
  for (const Uint32 type :
       {SDL_KEYDOWN, SDL_KEYUP, SDL_TEXTINPUT, SDL_TEXTEDITING, SDL_MOUSEMOTION,
        SDL_MOUSEBUTTONDOWN, SDL_MOUSEBUTTONUP, SDL_MOUSEWHEEL, SDL_KEYMAPCHANGED}) {
    SDL_EventState(type, SDL_IGNORE);  // the key and button state is kept all the same
  }
}

SdlVideo::~SdlVideo() {
  SDL_Quit();
}

PictureRef LoadSdlPicture(const PathText& path) {
  SurfacePtr surface(IMG_Load(path.c_str()));
  if (!surface) throw std::runtime_error("can't read the picture " + path + ": " + IMG_GetError());
  return std::make_shared<const SdlPicture>(std::move(surface));
}

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

void SdlPictureBox::SetAutoSize(bool autoSize) {
  auto_size_ = autoSize;
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

void SdlVideoLayer::SetVisible(bool visible) {
  visible_ = visible;
  window_.Invalidate();
}
void SdlVideoLayer::SetTop(Twips top) {
  rect_.top = top;
  window_.Invalidate();
}
void SdlVideoLayer::SetLeft(Twips left) {
  rect_.left = left;
  window_.Invalidate();
}
void SdlVideoLayer::SetHeight(Twips height) {
  rect_.height = height;
  window_.Invalidate();
}
void SdlVideoLayer::SetWidth(Twips width) {
  rect_.width = width;
  window_.Invalidate();
}

void SdlVideoLayer::DrawFrame(const std::function<void(const mpv::FrameMemory&)>& render) {
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
  render({pixels, area.w, area.h, static_cast<std::size_t>(pitch)});
  has_frame_ = true;
  window_.Invalidate();
}

void SdlVideoLayer::ClearFrame() {
  has_frame_ = false;
  window_.Invalidate();
}

bool SdlVideoLayer::Covers(const SDL_Rect& area) const {
  if (!visible_ || !has_frame_ || !texture_) return false;
  const SDL_Rect own = window_.ToPixels(rect_);
  return own.x <= area.x && own.y <= area.y && own.x + own.w >= area.x + area.w &&
         own.y + own.h >= area.y + area.h;
}

void SdlVideoLayer::Draw(SDL_Renderer* renderer) {
  if (!visible_) return;
  const SDL_Rect area = window_.ToPixels(rect_);
  if (has_frame_ && texture_) {
    SDL_RenderCopy(renderer, texture_.get(), nullptr, &area);
  } else {
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, SDL_ALPHA_OPAQUE);
    SDL_RenderFillRect(renderer, &area);
  }
}

// --- SdlWindow ---

SdlWindow::SdlWindow() : twips_per_pixel_(kDefaultTwipsPerPixel) {
  const std::string caption(created::kCaption);
  window_.reset(SDL_CreateWindow(caption.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                 ToPixels(created::kWindowWidth), ToPixels(created::kWindowHeight),
                                 SDL_WINDOW_HIDDEN | SDL_WINDOW_BORDERLESS));
  if (!window_) throw SdlError("can't create the window");
  renderer_.reset(SDL_CreateRenderer(window_.get(), -1, SDL_RENDERER_SOFTWARE));
  if (!renderer_) throw SdlError("can't draw on the window");

  const double scale = DesktopTwipsPerPixel(window_.get());
  if (scale != twips_per_pixel_) {
    twips_per_pixel_ = scale;
    SDL_SetWindowSize(window_.get(), ToPixels(created::kWindowWidth),
                      ToPixels(created::kWindowHeight));
  }
}

int SdlWindow::ToPixels(Twips twips) const {
  return static_cast<int>(std::lround(static_cast<double>(twips) / twips_per_pixel_));
}

Twips SdlWindow::ToTwips(int pixels) const {
  return static_cast<Twips>(pixels * twips_per_pixel_);
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
