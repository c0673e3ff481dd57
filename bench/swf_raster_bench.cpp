// The SWF rasterizer's benchmark: one 800x600 frame of 40 shapes (solid, gradient and bitmap
// fills, curves, a compound shape, strokes with every join and cap, a clip mask over five of
// them), drawn by swf::Renderer and, in the same run, the same paths by cairo into an image
// surface. Prints the median time per frame of each, their ratio and how far the two frames
// differ. Figures only; never fails on them.
//   swf_raster_bench [--frames N]
#include <cairo.h>
#include <pixman.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "cairo_reference.h"
#include "swf/render.h"

namespace {

using namespace swf;

constexpr int kWidth = 800;
constexpr int kHeight = 600;
constexpr Rgba kBackground{250, 250, 240, 255};
const Matrix kPixels{0.05f, 0, 0, 0.05f, 0, 0};

using swf_ref::Circle;
using swf_ref::Op;
using swf_ref::P;
using swf_ref::Poly;

Gradient MakeGradient(GradientKind kind, SpreadMode spread, float size, float x, float y,
                      float degrees, Rgba a, Rgba b) {
  const float k = size * 20 / 32768, t = degrees * 3.14159265f / 180;
  Gradient g;
  g.kind = kind;
  g.spread = spread;
  g.matrix = {k * std::cos(t), k * std::sin(t), -k * std::sin(t), k * std::cos(t), x * 20, y * 20};
  g.stops = {{0, a}, {128, {255, 255, 255, 255}}, {255, b}};
  if (kind == GradientKind::Focal) g.focal_point = 0.5f;
  return g;
}

std::vector<Op> Scene() {
  std::mt19937 random(7);
  const auto uniform = [&](float lo, float hi) {
    return std::uniform_real_distribution<float>(lo, hi)(random);
  };
  const auto colour = [&](std::uint8_t alpha) {
    return Rgba{std::uint8_t(random() % 256), std::uint8_t(random() % 256),
                std::uint8_t(random() % 256), alpha};
  };
  auto texture = std::make_shared<Bitmap>();
  texture->width = texture->height = 64;
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 64; ++x) {
      texture->pixels.push_back(0xff000000u | std::uint32_t((x * 4) << 16) |
                                std::uint32_t((y * 4) << 8) | std::uint32_t(((x ^ y) & 8) * 24));
    }
  }
  std::vector<Op> ops;
  const auto draw = [&](Shape s) { ops.push_back({Op::Draw, std::move(s), kPixels, {}}); };
  // 11 solid shapes: polygons and circles, a few translucent.
  for (int i = 0; i < 11; ++i) {
    Shape s;
    s.fills = {colour(i % 3 == 0 ? 160 : 255)};
    const float x = uniform(60, 740), y = uniform(60, 540), r = uniform(40, 110);
    if (i % 2 == 0) {
      Circle(s, x, y, r, 1, 0);
    } else {
      std::vector<Point> pts;
      for (int k = 0; k < 6; ++k) {
        const float a = float(k) * 1.047f + uniform(-0.3f, 0.3f);
        pts.push_back(P(x + r * std::cos(a), y + r * std::sin(a)));
      }
      Poly(s, pts, 1, 0);
    }
    draw(s);
  }
  // 9 gradient shapes: each kind with each spread.
  const GradientKind kinds[] = {GradientKind::Linear, GradientKind::Radial, GradientKind::Focal};
  const SpreadMode spreads[] = {SpreadMode::Pad, SpreadMode::Reflect, SpreadMode::Repeat};
  for (int i = 0; i < 9; ++i) {
    Shape s;
    const float x = uniform(100, 700), y = uniform(100, 500), r = uniform(60, 120);
    s.fills = {MakeGradient(kinds[i / 3], spreads[i % 3], r, x, y, uniform(0, 180), colour(255),
                            colour(255))};
    Circle(s, x, y, r, 1, 0);
    draw(s);
  }
  // A bitmap fill, repeating and smoothed, turned and scaled.
  {
    Shape s;
    BitmapFill f;
    f.bitmap = texture;
    f.matrix = {30, 12, -12, 30, 300 * 20, 250 * 20};
    s.fills = {f};
    Poly(s, {P(280, 220), P(560, 240), P(540, 420), P(300, 400)}, 1, 0);
    draw(s);
  }
  // A compound shape: four fills meeting along shared edges, in a grid.
  {
    Shape s;
    s.fills = {colour(255), colour(255), colour(255), colour(255)};
    const float x0 = 480, y0 = 60, w = 120, h = 90;
    const auto at = [&](int i, int j) { return P(x0 + float(i) * w / 2, y0 + float(j) * h / 2); };
    // Outer boundary, each quarter's two outer sides; the inner cross shared by two quarters.
    const auto edge = [&](Point a, Point b, std::uint16_t f0, std::uint16_t f1) {
      s.edges.push_back({a, {}, b, false, f0, f1, 0});
    };
    edge(at(0, 0), at(1, 0), 1, 0);
    edge(at(1, 0), at(2, 0), 2, 0);
    edge(at(2, 0), at(2, 1), 2, 0);
    edge(at(2, 1), at(2, 2), 4, 0);
    edge(at(2, 2), at(1, 2), 4, 0);
    edge(at(1, 2), at(0, 2), 3, 0);
    edge(at(0, 2), at(0, 1), 3, 0);
    edge(at(0, 1), at(0, 0), 1, 0);
    edge(at(1, 0), at(1, 1), 1, 2);
    edge(at(1, 1), at(1, 2), 3, 4);
    edge(at(0, 1), at(1, 1), 3, 1);
    edge(at(1, 1), at(2, 1), 4, 2);
    draw(s);
  }
  // 12 stroked paths: every join and cap, widths 2 to 12 pixels, some along curves.
  const JoinStyle joins[] = {JoinStyle::Round, JoinStyle::Bevel, JoinStyle::Miter};
  const CapStyle caps[] = {CapStyle::Round, CapStyle::Square, CapStyle::None};
  for (int i = 0; i < 12; ++i) {
    Shape s;
    LineStyle l;
    l.width = uniform(2, 12) * 20;
    l.fill = colour(255);
    l.join = joins[i % 3];
    l.start_cap = l.end_cap = caps[(i / 3) % 3];
    s.lines = {l};
    const float x = uniform(50, 650), y = uniform(50, 500);
    if (i % 4 == 3) {
      Circle(s, x + 60, y + 40, uniform(30, 70), 0, 1);
    } else {
      std::vector<Point> pts;
      for (int k = 0; k < 6; ++k) pts.push_back(P(x + float(k) * 30, y + uniform(0, 90)));
      Poly(s, pts, 0, 1, false);
    }
    draw(s);
  }
  // A mask (a clip layer: a circle, the 40th shape) over five more shapes.
  ops.push_back({Op::BeginMask, {}, kPixels, {}});
  {
    Shape m;
    m.fills = {Rgba{0, 0, 0, 255}};
    Circle(m, 400, 300, 180, 1, 0);
    draw(m);
  }
  ops.push_back({Op::EndMask, {}, kPixels, {}});
  for (int i = 0; i < 5; ++i) {
    Shape s;
    s.fills = {i % 2 ? FillStyle{colour(200)}
                     : FillStyle{MakeGradient(GradientKind::Linear, SpreadMode::Reflect, 80, 400,
                                              300, float(i) * 30, colour(255), colour(255))}};
    Poly(s,
         {P(220 + float(i) * 40, 100), P(300 + float(i) * 40, 120), P(280 + float(i) * 40, 500),
          P(200 + float(i) * 40, 480)},
         1, 0);
    draw(s);
  }
  ops.push_back({Op::PopMask, {}, kPixels, {}});
  return ops;
}

double Wall() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// This thread's processor time: on a machine other work shares, closer to what a frame costs
// than the wall clock, which also counts the time the thread waited for a core.
double Cpu() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

struct Times {
  std::vector<double> wall, cpu;
};

template <typename F>
void Measure(Times& times, F&& draw) {
  const double w = Wall(), c = Cpu();
  draw();
  times.cpu.push_back(Cpu() - c);
  times.wall.push_back(Wall() - w);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int frames = 200;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--frames") == 0) frames = std::max(1, std::atoi(argv[i + 1]));
  }
  const std::vector<Op> ops = Scene();
  std::vector<std::uint32_t> ours(kWidth * kHeight), theirs(kWidth * kHeight);
  cairo_surface_t* surface =
      cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(theirs.data()),
                                          CAIRO_FORMAT_ARGB32, kWidth, kHeight, kWidth * 4);
  Renderer renderer;
  for (int i = 0; i < 5; ++i) {  // warm-up: caches, the renderer's buffers, cairo's pools
    swf_ref::DrawOurs(renderer, {ours.data(), kWidth, kHeight, kWidth}, kBackground, ops);
    swf_ref::DrawCairo(surface, kBackground, ops, false, 0.1);
  }
  Times ours_times, cairo_times;
  for (int i = 0; i < frames; ++i) {  // interleaved, so both meet the same machine
    Measure(ours_times, [&] {
      swf_ref::DrawOurs(renderer, {ours.data(), kWidth, kHeight, kWidth}, kBackground, ops);
    });
    // As a player built on cairo would draw: each fill straight onto the canvas (no group:
    // cheaper, with seams where fills meet), cairo's own curve tolerance (0.1 pixel, ours 0.05).
    Measure(cairo_times, [&] { swf_ref::DrawCairo(surface, kBackground, ops, false, 0.1); });
  }
  double diff = 0;
  for (std::size_t i = 0; i < ours.size(); ++i) {
    for (int shift = 0; shift < 32; shift += 8) {
      diff += std::abs(int((ours[i] >> shift) & 255) - int((theirs[i] >> shift) & 255));
    }
  }
  std::printf("frame %dx%d, %zu drawing operations (40 shapes and a mask), %d frames each\n",
              kWidth, kHeight, ops.size(), frames);
  const auto line = [](const char* name, const std::vector<double>& ms) {
    std::printf("  %-14s median %7.3f ms  (min %.3f, max %.3f)\n", name, Median(ms),
                *std::min_element(ms.begin(), ms.end()), *std::max_element(ms.begin(), ms.end()));
  };
  std::printf("processor time per frame (this thread)\n");
  line("swf::Renderer", ours_times.cpu);
  line("cairo", cairo_times.cpu);
  std::printf("  ratio (ours / cairo) %.2f\n", Median(ours_times.cpu) / Median(cairo_times.cpu));
  std::printf("wall time per frame\n");
  line("swf::Renderer", ours_times.wall);
  line("cairo", cairo_times.wall);
  std::printf("  ratio (ours / cairo) %.2f\n", Median(ours_times.wall) / Median(cairo_times.wall));
  std::printf("cairo %s, pixman %s\n", cairo_version_string(), pixman_version_string());
  std::printf("mean |difference| between the frames: %.3f / 255 per channel\n",
              diff / (4.0 * double(ours.size())));
  if (const char* png = std::getenv("SWF_BENCH_PNG")) {
    cairo_surface_t* s =
        cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(ours.data()),
                                            CAIRO_FORMAT_ARGB32, kWidth, kHeight, kWidth * 4);
    cairo_surface_write_to_png(s, (std::string(png) + "-ours.png").c_str());
    cairo_surface_destroy(s);
    cairo_surface_write_to_png(surface, (std::string(png) + "-cairo.png").c_str());
  }
  cairo_surface_destroy(surface);
  return 0;
}
