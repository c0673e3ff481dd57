#pragma once
// The SWF player's frames in the window's video layer, where libmpv's frames go too: one of the
// two engines plays at a time.

#include "player/mpv/video_layer.h"
#include "player/swf/swf_platform.h"

namespace launcher::sdl {

class VideoLayerSurface final : public swfplayer::FrameSurface {
 public:
  explicit VideoLayerSurface(mpv::VideoLayer& layer) : layer_(layer) {}
  void SetVisible(bool visible) override { layer_.SetVisible(visible); }
  void SetTop(Twips top) override { layer_.SetTop(top); }
  void SetLeft(Twips left) override { layer_.SetLeft(left); }
  void SetHeight(Twips height) override { layer_.SetHeight(height); }
  void SetWidth(Twips width) override { layer_.SetWidth(width); }
  void Present(const std::function<void(const swfplayer::FramePixels&)>& draw) override {
    layer_.DrawFrame([&draw](const mpv::FrameMemory& memory) {
      // The layer's 32-bit rows: the core's pixels with their alpha byte unused.
      draw({static_cast<std::uint32_t*>(memory.pixels), memory.width, memory.height,
            static_cast<int>(memory.stride / sizeof(std::uint32_t))});
    });
  }

 private:
  mpv::VideoLayer& layer_;
};

}  // namespace launcher::sdl
