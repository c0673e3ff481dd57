// The SWF renderer's effects benchmark: one 800x600 frame of a few shapes with a blur (8 x 8,
// quality 3) over a quarter of the stage, a glow, a drop shadow and two blend-mode layers
// (multiply, screen), drawn by swf::Renderer; and, in the same run, the blur alone beside a
// plain C box blur of the same passes over the same pixels. Prints medians; never fails.
//   swf_effects_bench [--frames N]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench_clock.h"
#include "swf/render.h"
#include "swf/render/blur.h"

namespace {

using namespace swf;

constexpr int kWidth = 800;
constexpr int kHeight = 600;

// A polygon of `sides` around (x, y) pixels, radius r, filled with `c`.
Shape Blob(float x, float y, float r, int sides, Rgba c) {
  Shape s;
  s.fills = {c};
  for (int i = 0; i < sides; ++i) {
    const float a0 = float(i) * 6.2831853f / float(sides);
    const float a1 = float(i + 1) * 6.2831853f / float(sides);
    const Point p{(x + r * std::cos(a0)) * 20, (y + r * std::sin(a0)) * 20};
    const Point q{(x + r * std::cos(a1)) * 20, (y + r * std::sin(a1)) * 20};
    s.edges.push_back({p, p, q, false, 0, 1, 0});
  }
  s.bounds = {(x - r) * 20, (x + r) * 20, (y - r) * 20, (y + r) * 20};
  return s;
}

struct Layered {
  Shape shape;
  LayerEffects effects;
  std::vector<Filter> filters;
};

void DrawFrame(Renderer& r, std::uint32_t* pixels, const std::vector<Shape>& below,
               std::vector<Layered>& layers) {
  const Matrix pixel{0.05f, 0, 0, 0.05f, 0, 0};
  r.BeginFrame(FramePixels{pixels, kWidth, kHeight, kWidth}, {250, 250, 240, 255});
  for (const Shape& s : below) r.DrawShape(s, pixel, {});
  for (Layered& l : layers) {
    l.effects.filters = l.filters;
    const Rect& b = l.shape.bounds;
    if (!r.BeginLayer({b.x_min / 20, b.x_max / 20, b.y_min / 20, b.y_max / 20}, l.effects))
      continue;
    r.DrawShape(l.shape, pixel, {});
    r.EndLayer();
  }
}

// The textbook box blur: per channel, a window of `size` pixels summed afresh along each row,
// then each column; transparent outside.
void PlainBoxBlur(std::uint8_t* data, int width, int height, int size, int passes) {
  std::vector<std::uint8_t> copy(std::size_t(width) * std::size_t(height) * 4);
  const int lo = -(size / 2), hi = lo + size;  // [lo, hi)
  for (int pass = 0; pass < passes; ++pass) {
    for (int axis = 0; axis < 2; ++axis) {
      std::memcpy(copy.data(), data, copy.size());
      const int n = axis == 0 ? width : height, lines = axis == 0 ? height : width;
      const int step = axis == 0 ? 4 : width * 4, line_step = axis == 0 ? width * 4 : 4;
      for (int l = 0; l < lines; ++l) {
        for (int c = 0; c < 4; ++c) {
          const std::uint8_t* in = copy.data() + l * line_step + c;
          std::uint8_t* out = data + l * line_step + c;
          unsigned sum = 0;
          for (int i = lo; i < hi; ++i) sum += i >= 0 && i < n ? in[i * step] : 0;
          for (int i = 0; i < n; ++i) {
            out[i * step] = std::uint8_t(sum / unsigned(size));
            const int enter = i + hi, leave = i + lo;
            sum += enter < n ? in[enter * step] : 0;
            sum -= leave >= 0 ? in[leave * step] : 0;
          }
        }
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  int frames = 100;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--frames") == 0) frames = std::max(1, std::atoi(argv[i + 1]));
  }
  std::vector<Shape> below;
  for (int i = 0; i < 12; ++i) {
    below.push_back(Blob(float(70 + (i % 4) * 200), float(100 + (i / 4) * 200), 90, 7 + i,
                         {std::uint8_t(40 * i), std::uint8_t(200 - 10 * i), 120, 255}));
  }
  std::vector<Layered> layers(5);
  // The blur: a picture over a quarter of the stage (400 x 300).
  layers[0].shape = Blob(300, 250, 200, 40, {30, 90, 200, 255});
  layers[0].shape.bounds = {100 * 20, 500 * 20, 100 * 20, 400 * 20};
  layers[0].filters = {BlurFilter{8, 8, 3}};
  ShadowFilter glow;
  glow.kind = ShadowKind::Glow;
  glow.color = {255, 220, 0, 255};
  glow.blur_x = glow.blur_y = 10;
  glow.strength = 2;
  layers[1].shape = Blob(620, 160, 80, 24, {200, 30, 30, 255});
  layers[1].filters = {glow};
  ShadowFilter shadow;
  shadow.blur_x = shadow.blur_y = 6;
  shadow.distance = 6;
  shadow.angle = 0.785f;
  shadow.color = {0, 0, 0, 160};
  layers[2].shape = Blob(620, 420, 90, 5, {40, 160, 60, 255});
  layers[2].filters = {shadow};
  layers[3].shape = Blob(250, 480, 110, 30, {255, 128, 64, 255});
  layers[3].effects.blend = BlendMode::Multiply;
  layers[4].shape = Blob(420, 300, 120, 6, {90, 90, 255, 200});
  layers[4].effects.blend = BlendMode::Screen;

  Renderer renderer;
  std::vector<std::uint32_t> pixels(kWidth * kHeight);
  for (int i = 0; i < 5; ++i) DrawFrame(renderer, pixels.data(), below, layers);
  bench::Times frame;
  for (int i = 0; i < frames; ++i) {
    bench::Measure(frame, [&] { DrawFrame(renderer, pixels.data(), below, layers); });
  }

  // The blur alone, ours and the plain one interleaved, on the same 400 x 300 picture.
  std::vector<std::uint32_t> picture(400 * 300), a, b;
  for (int y = 0; y < 300; ++y) {
    for (int x = 0; x < 400; ++x) {
      picture[std::size_t(y * 400 + x)] = ((x / 20 + y / 20) % 2) ? 0xFF3060C0u : 0x80402010u;
    }
  }
  bench::Times ours, plain;
  render::BlurScratch scratch;
  for (int i = 0; i < frames; ++i) {
    a = picture;
    b = picture;
    bench::Measure(ours, [&] {
      render::BoxBlur(reinterpret_cast<std::uint8_t*>(a.data()), 400, 300, 400 * 4, 4, 8, 8, 3,
                      scratch);
    });
    bench::Measure(
        plain, [&] { PlainBoxBlur(reinterpret_cast<std::uint8_t*>(b.data()), 400, 300, 8, 3); });
  }
  std::printf(
      "effects frame 800x600 (blur 8x8 q3 over 400x300, glow, drop shadow, multiply, "
      "screen): median %.2f ms processor, %.2f ms wall (%d frames)\n",
      bench::Median(frame.cpu), bench::Median(frame.wall), frames);
  std::printf("blur 8x8 q3 of 400x300: ours %.2f ms, plain C box blur %.2f ms, ours/plain %.2f\n",
              bench::Median(ours.cpu), bench::Median(plain.cpu),
              bench::Median(ours.cpu) / bench::Median(plain.cpu));
}
