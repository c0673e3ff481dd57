#pragma once
// Where a movie engine shows its pictures: a layer of the window above the logo image. The
// engines keep no pixels of their own; each frame is rendered straight into the layer's memory.
// Both engines (libmpv's and the SWF player's) draw through this one interface.

#include <functional>

#include "vocabulary/frame_pixels.h"
#include "vocabulary/twips_scale.h"

namespace launcher {

class VideoLayer {
 public:
  VideoLayer() = default;
  virtual ~VideoLayer() = default;
  VideoLayer(const VideoLayer&) = delete;
  VideoLayer& operator=(const VideoLayer&) = delete;
  VideoLayer(VideoLayer&&) = delete;
  VideoLayer& operator=(VideoLayer&&) = delete;

  // Container properties, in twips; shown, the layer covers the logo beneath it.
  virtual void SetVisible(bool visible) = 0;
  virtual void SetTop(Twips top) = 0;
  virtual void SetLeft(Twips left) = 0;
  virtual void SetHeight(Twips height) = 0;
  virtual void SetWidth(Twips width) = 0;
  // Hands memory at the layer's size in pixels to `render`, then shows what it holds. Does
  // nothing while the layer has no area.
  virtual void DrawFrame(const std::function<void(const FramePixels&)>& render) = 0;
  // Black until the next frame.
  virtual void ClearFrame() = 0;
};

}  // namespace launcher
