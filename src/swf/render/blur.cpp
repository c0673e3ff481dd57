// The running-sum box blur.
#include "swf/render/blur.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace swf::render {
namespace {

constexpr float kMaxSize = 1024;  // wider boxes blur no further than a frame is wide

// The box of one pass: 2 r + 1 whole taps and two outer ones weighed `edge`/256.
struct Box {
  int r = 0;
  std::uint32_t edge = 0;
};

Box MakeBox(float size) {
  size = std::min(size, kMaxSize);
  const float half = (size - 1) / 2;
  Box b;
  b.r = int(half);
  b.edge = std::uint32_t(std::lround((half - float(b.r)) * 256));
  if (b.edge == 256) {
    ++b.r;
    b.edge = 0;
  }
  return b;
}

// `out` (rows of `height` elements) = `in` (rows of `width`) turned on its diagonal.
template <typename T>
void Transpose(const std::uint8_t* in, int width, int height, int in_stride, std::uint8_t* out,
               int out_stride) {
  constexpr int kTile = 32;  // tiles keep both sides in the cache
  for (int y0 = 0; y0 < height; y0 += kTile) {
    for (int x0 = 0; x0 < width; x0 += kTile) {
      for (int y = y0; y < std::min(y0 + kTile, height); ++y) {
        const auto* src = reinterpret_cast<const T*>(in + std::ptrdiff_t(y) * in_stride);
        for (int x = x0; x < std::min(x0 + kTile, width); ++x) {
          *reinterpret_cast<T*>(out + std::ptrdiff_t(x) * out_stride +
                                std::ptrdiff_t(y) * std::ptrdiff_t(sizeof(T))) = src[x];
        }
      }
    }
  }
}

// One pass down the columns, a whole row of samples at a time: `sums` holds each column's
// running sum; rows outside the picture read as a row of zeros.
void BlurColumns(std::uint8_t* data, int count, int height, int stride, const Box& b,
                 std::vector<std::uint32_t>& scratch) {
  const std::size_t wide = std::size_t(count);
  // The sums, a row of zeros, then the input rows kept (as bytes) while the rows are written.
  const std::size_t zero_words = (wide + 3) / 4;
  scratch.resize(wide + zero_words + (std::size_t(height) * wide + 3) / 4);
  std::fill_n(scratch.data(), wide + zero_words, 0u);
  std::uint32_t* sums = scratch.data();
  const auto* zeros = reinterpret_cast<const std::uint8_t*>(sums + wide);
  auto* copy = reinterpret_cast<std::uint8_t*>(sums + wide + zero_words);
  for (int y = 0; y < height; ++y) {
    std::copy_n(data + std::ptrdiff_t(y) * stride, wide, copy + std::ptrdiff_t(y) * count);
  }
  const auto row = [&](int y) {
    return y >= 0 && y < height ? copy + std::ptrdiff_t(y) * count : zeros;
  };
  for (int y = -b.r; y <= b.r; ++y) {
    const std::uint8_t* r = row(y);
    for (std::size_t x = 0; x < wide; ++x) sums[x] += r[x];
  }
  // The mean in float: its multiplies vectorise on every x86-64 processor, 32-bit integer ones
  // only from SSE4.1 on.
  const float edge = float(b.edge) / 256, scale = 1 / (float(2 * b.r + 1) + 2 * edge);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* before = row(y - b.r - 1);
    const std::uint8_t* after = row(y + b.r + 1);
    const std::uint8_t* leaving = row(y - b.r);
    std::uint8_t* out = data + std::ptrdiff_t(y) * stride;
    for (std::size_t x = 0; x < wide; ++x) {
      const auto edges = float(std::int32_t(before[x]) + std::int32_t(after[x]));
      const float mean = (float(std::int32_t(sums[x])) + edge * edges) * scale;
      out[x] = std::uint8_t(std::int32_t(mean + 0.5f));  // NOLINT(bugprone-incorrect-roundings)
      sums[x] += std::uint32_t(after[x]) - leaving[x];
    }
  }
}

}  // namespace

int BlurReach(float size, int passes) {
  if (!(size > 1)) return 0;
  const Box b = MakeBox(size);
  return (b.r + (b.edge != 0 ? 1 : 0)) * std::clamp(passes, 0, 15);
}

void BoxBlur(std::uint8_t* data, int width, int height, int stride, int channels, float size_x,
             float size_y, int passes, BlurScratch& scratch) {
  if (width <= 0 || height <= 0 || (channels != 1 && channels != 4)) return;
  passes = std::clamp(passes, 0, 15);
  // Box blurs commute: all passes along the rows (as columns of the picture turned on its
  // diagonal, so every pass runs down whole rows of samples), then all down the columns.
  if (size_x > 1 && passes > 0) {
    const Box bx = MakeBox(size_x);
    const int turned_stride = height * channels;
    scratch.turned.resize((std::size_t(width) * std::size_t(turned_stride) + 3) / 4);
    auto* turned = reinterpret_cast<std::uint8_t*>(scratch.turned.data());
    const auto turn = [&](const std::uint8_t* in, int w, int h, int in_stride, std::uint8_t* out,
                          int out_stride) {
      if (channels == 4) {
        Transpose<std::uint32_t>(in, w, h, in_stride, out, out_stride);
      } else {
        Transpose<std::uint8_t>(in, w, h, in_stride, out, out_stride);
      }
    };
    turn(data, width, height, stride, turned, turned_stride);
    for (int pass = 0; pass < passes; ++pass) {
      BlurColumns(turned, turned_stride, width, turned_stride, bx, scratch.sums);
    }
    turn(turned, height, width, turned_stride, data, stride);
  }
  if (size_y > 1) {
    const Box by = MakeBox(size_y);
    for (int pass = 0; pass < passes; ++pass) {
      BlurColumns(data, width * channels, height, stride, by, scratch.sums);
    }
  }
}

}  // namespace swf::render
