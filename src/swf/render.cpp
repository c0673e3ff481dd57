#include "swf/render.h"

#include <algorithm>
#include <vector>

namespace swf {

Matrix ShowAllMatrix(const Rect& stage, int width, int height) {
  const double stageW = double(stage.xMax) - stage.xMin;
  const double stageH = double(stage.yMax) - stage.yMin;
  if (!(stageW > 0) || !(stageH > 0) || width <= 0 || height <= 0) {
    return Matrix{0.05f, 0, 0, 0.05f, 0, 0};
  }
  const double scale = std::min(width / stageW, height / stageH);
  const double tx = (width - stageW * scale) / 2 - stage.xMin * scale;
  const double ty = (height - stageH * scale) / 2 - stage.yMin * scale;
  return Matrix{float(scale), 0, 0, float(scale), float(tx), float(ty)};
}

struct Renderer::State {
  Canvas canvas;
  int masks = 0;
};

Renderer::Renderer() : state_(std::make_unique<State>()) {}
Renderer::~Renderer() = default;

void Renderer::BeginFrame(const Canvas& canvas, Rgba background) {
  state_->canvas = canvas;
  state_->masks = 0;
  if (canvas.pixels == nullptr || canvas.width < 1 || canvas.height < 1) return;
  const std::uint32_t pixel = 0xff000000u | (std::uint32_t(background.r) << 16) |
                              (std::uint32_t(background.g) << 8) | background.b;
  for (int y = 0; y < canvas.height; ++y) {
    std::uint32_t* row = canvas.pixels + std::ptrdiff_t(y) * canvas.stride;
    std::fill(row, row + canvas.width, pixel);
  }
}

void Renderer::DrawShape(const Shape&, const Matrix&, const ColorTransform&) {}
void Renderer::BeginMask() { ++state_->masks; }
void Renderer::EndMask() {}
void Renderer::PopMask() { state_->masks = std::max(0, state_->masks - 1); }
int Renderer::MaskDepth() const { return state_->masks; }

}  // namespace swf
