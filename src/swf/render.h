#pragma once
// Drawing a movie's shapes on the CPU: an anti-aliased compound scan converter (each edge carries
// the fills on both of its sides, so shared edges leave no seams), solid, gradient and bitmap
// paints with the placement's colour transform, strokes, the masks of clip depths, and layers
// drawn back through filters and blend modes. Every platform draws the same pixels with it.
// Its parts live in render/: the cells and the sweep (rasterizer), the paints, the stroker, the
// compositor and the masks, the layers, the blend modes and the filters.

#include <cstdint>
#include <memory>
#include <span>

#include "swf/effects.h"
#include "swf/shape.h"
#include "vocabulary/frame_pixels.h"

namespace swf {

// Where a frame is drawn: the platform's frame memory, handed down as it is.
using launcher::FramePixels;

// The matrix that maps the stage (twips) into a canvas of `width` x `height` pixels as the Flash
// control's default scale mode ("show all") does: the whole stage visible, its proportions kept,
// centred; the rest of the canvas is the background's. An empty stage gives the identity scale
// of 1/20 pixel per twip.
[[nodiscard]] Matrix ShowAllMatrix(const Rect& stage, int width, int height);

// How a layer is drawn back onto what lies below it (Renderer::EndLayer): its filters in order
// (sizes in stage pixels, times `filter_scale` canvas pixels per stage pixel), then its colour
// transform, then the blend mode. `filters` must stay valid until EndLayer.
struct LayerEffects {
  BlendMode blend = BlendMode::Normal;
  std::span<const Filter> filters;
  float filter_scale = 1;
  ColorTransform color;
};

// `bounds` (canvas pixels) grown by how far the filters reach out of it at `scale`.
[[nodiscard]] Rect GrowByFilters(Rect bounds, std::span<const Filter> filters, float scale);

class Renderer {
 public:
  Renderer();
  ~Renderer();
  Renderer(const Renderer&) = delete;
  Renderer& operator=(const Renderer&) = delete;

  // Starts a frame on `canvas` (used until the next BeginFrame; the renderer keeps no pointer
  // beyond that): fills all of it with `background` (drawn opaque whatever its alpha) and forgets
  // every mask of the frame before. A canvas without pixels or with a size under 1 draws nothing.
  void BeginFrame(const FramePixels& canvas, Rgba background);
  // Anti-aliased edges (the default, Flash's HIGH quality) or aliased ones (its LOW quality:
  // each pixel wholly in or out by its centre). Holds for the frames after.
  void SetAntialias(bool on);

  // Draws `shape`: `to_canvas` maps the shape's twips to canvas pixels (the placement's matrix,
  // then its parents', then the stage's), `cx` is the placement's colour transform (with its
  // parents'). Each style layer in turn (Shape::layer_starts): its fills as one compound fill by
  // the shape's rule (even-odd or non-zero), then its lines in the order of the edges, each path
  // of one line style as one stroke (at least one pixel wide). Everything is clipped by the
  // active masks. While a mask is
  // being built (BeginMask), the shape adds its coverage to that mask instead: fills and lines
  // count, their colours and alpha don't. Shapes wholly outside the canvas cost almost nothing.
  // Any input is safe: non-finite or huge coordinates, empty shapes, out-of-range style indices
  // (skipped), missing bitmaps (drawn as nothing).
  void DrawShape(const Shape& shape, const Matrix& to_canvas, const ColorTransform& cx);

  // Clip depths. A clip layer is drawn between BeginMask and EndMask (every shape it holds,
  // through DrawShape); EndMask makes the mask active: from then on every shape drawn is clipped
  // by it, and by the masks active before it (nested clips intersect). PopMask drops the mask
  // made active last, when the depths it clips have been drawn. An EndMask without a BeginMask,
  // or a PopMask without an active mask, does nothing.
  void BeginMask();
  void EndMask();
  void PopMask();

  // Layers. BeginLayer starts a transparent layer over `bounds` (canvas pixels, the object's
  // drawn extent) grown by the filters and clipped to the canvas: the shapes drawn until the
  // matching EndLayer go into it, clipped only by the masks made active inside it. EndLayer
  // applies `effects` and composites the layer onto what lies below (the canvas or the layer
  // around it), clipped by the masks active outside it. `alpha` and `erase` act on the layer
  // below; on the canvas itself they draw nothing. False (and nothing begun) without a canvas,
  // while a mask is being built, or past 8 nested layers: draw the object plainly then.
  [[nodiscard]] bool BeginLayer(const Rect& bounds, const LayerEffects& effects);
  void EndLayer();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace swf
