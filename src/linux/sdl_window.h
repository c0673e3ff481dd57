#pragma once
// The window Main on SDL: a borderless window with the logo image painted on its own surface,
// the movie player's layer above it, and the hidden Logo picture box. Drawing happens only when
// something changed or the window was exposed.

#include <optional>

#include "launcher/window_parts.h"
#include "linux/sdl_handles.h"
#include "linux/sdl_picture.h"
#include "player/video_layer.h"
#include "vocabulary/twips_scale.h"

namespace launcher::sdl {

struct TwipsRect {
  Twips left = 0, top = 0, width = 0, height = 0;
};

class SdlWindow;

// A picture's texture for the window's renderer, made when first drawn.
class PictureTexture {
 public:
  void Set(PictureRef picture);
  [[nodiscard]] const SdlPicture* Picture() const;
  [[nodiscard]] SDL_Texture* Texture(SDL_Renderer* renderer);

 private:
  PictureRef picture_;
  const SdlPicture* sdl_picture_ = nullptr;
  TexturePtr texture_;
};

// ImgTemp: painted on the window beneath everything else.
class SdlImage final : public ImageControl {
 public:
  explicit SdlImage(SdlWindow& window);
  void SetTop(Twips top) override;
  void SetLeft(Twips left) override;
  void SetStretch(bool stretch) override;
  void SetPicture(PictureRef picture) override;
  void SetHeight(Twips height) override;
  void SetWidth(Twips width) override;
  void Draw(SDL_Renderer* renderer);

 private:
  SdlWindow& window_;
  TwipsRect rect_;
  bool stretch_ = false;
  PictureTexture picture_;
};

// Logo: a picture box that is never shown by the launcher; it measures the picture.
class SdlPictureBox final : public PictureBox {
 public:
  explicit SdlPictureBox(SdlWindow& window);
  void SetVisible(bool visible) override;
  void SetAutoSize(bool auto_size) override;
  void SetPicture(PictureRef picture) override;
  [[nodiscard]] PictureRef Picture() const override;
  void SetTop(Twips top) override;
  void SetLeft(Twips left) override;
  [[nodiscard]] Twips Height() const override;
  [[nodiscard]] Twips Width() const override;
  void SetHeight(Twips height) override;
  void SetWidth(Twips width) override;
  void Draw(SDL_Renderer* renderer);

 private:
  void FitPicture();

  SdlWindow& window_;
  TwipsRect rect_;
  bool visible_ = true;
  bool auto_size_ = false;
  PictureRef picture_;
  PictureTexture texture_;
};

// SWFPlayer's picture: black until the first frame, then the latest frame.
class SdlVideoLayer final : public VideoLayer {
 public:
  explicit SdlVideoLayer(SdlWindow& window);
  void SetVisible(bool visible) override;
  void SetTop(Twips top) override;
  void SetLeft(Twips left) override;
  void SetHeight(Twips height) override;
  void SetWidth(Twips width) override;
  void DrawFrame(const std::function<void(const FramePixels&)>& render) override;
  void ClearFrame() override;
  void Draw(SDL_Renderer* renderer);
  // Whether a frame shown now hides all of the area.
  [[nodiscard]] bool Covers(const SDL_Rect& area) const;

 private:
  // Until its first frame the layer is see-through: a key leaves the logo in view until the
  // movie has a picture, never black, and a change nobody can see costs no redraw.
  [[nodiscard]] bool Shows() const;
  template <typename Mutation>
  void Change(Mutation mutate);

  SdlWindow& window_;
  TwipsRect rect_;
  bool visible_ = true;
  bool has_frame_ = false;
  TexturePtr texture_;
  int texture_width_ = 0, texture_height_ = 0;
};

class SdlWindow final : public Form {
 public:
  // Creates the window hidden at its created size. Throws std::runtime_error.
  SdlWindow();

  [[nodiscard]] Twips Height() const override;
  [[nodiscard]] Twips Width() const override;
  void SetHeight(Twips height) override;
  void SetWidth(Twips width) override;
  [[nodiscard]] WindowHandle Handle() const override;
  void Dismiss() noexcept override;

  // Shows the window once its load handler has returned.
  void Show();
  [[nodiscard]] bool Dismissed() const { return dismissed_; }
  // Places the window in pixels; topmost keeps it above other windows.
  void Place(int x, int y, int width, int height, bool topmost);

  void Invalidate() { dirty_ = true; }
  void RedrawIfNeeded();

  [[nodiscard]] SDL_Renderer* Renderer() const { return renderer_.get(); }
  [[nodiscard]] int ToPixels(Twips twips) const;
  [[nodiscard]] Twips ToTwips(int pixels) const;
  [[nodiscard]] SDL_Rect ToPixels(const TwipsRect& rect) const;

  SdlImage& Image() { return image_; }
  SdlPictureBox& LogoBox() { return logo_; }
  SdlVideoLayer& Video() { return video_; }

 private:
  WindowPtr window_;
  RendererPtr renderer_;
  TwipsScale scale_;
  bool shown_ = false;
  bool placed_ = false;
  bool dismissed_ = false;
  bool dirty_ = true;
  SdlImage image_{*this};
  SdlVideoLayer video_{*this};
  SdlPictureBox logo_{*this};
};

}  // namespace launcher::sdl
