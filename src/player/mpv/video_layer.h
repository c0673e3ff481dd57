#pragma once
// Where the movie player shows its pictures: a layer of the window above the logo image. The
// player keeps no pixels of its own; it renders each frame straight into the layer's memory.

#include <cstddef>
#include <functional>

#include "vocabulary/twips_scale.h"

namespace launcher::mpv {

// One frame's memory: 32-bit pixels, bytes blue, green, red, unused ("bgr0"), rows of stride
// bytes. Valid only during the call that hands it out.
struct FrameMemory {
  void* pixels = nullptr;
  int width = 0;
  int height = 0;
  std::size_t stride = 0;
};

class VideoLayer {
 public:
  virtual ~VideoLayer() = default;
  // Container properties, in twips; shown, the layer covers the logo beneath it.
  virtual void SetVisible(bool visible) = 0;
  virtual void SetTop(Twips top) = 0;
  virtual void SetLeft(Twips left) = 0;
  virtual void SetHeight(Twips height) = 0;
  virtual void SetWidth(Twips width) = 0;
  // Hands render memory at the layer's size in pixels, then shows what it holds. Does nothing
  // while the layer has no area.
  virtual void DrawFrame(const std::function<void(const FrameMemory&)>& render) = 0;
  // Black until the next frame.
  virtual void ClearFrame() = 0;
};

}  // namespace launcher::mpv
