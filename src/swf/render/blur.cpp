// The running-sum box blur.
#include "swf/render/blur.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace swf::render {
namespace {

constexpr float kMaxSize = 1024;  // wider boxes blur no further than a frame is wide

// The box of one pass: 2 r + 1 whole taps and two outer ones weighed `edge`/256; the sum
// times `recip` >> 23 is the mean.
struct Box {
  int r = 0;
  std::uint32_t edge = 0;
  std::uint32_t recip = 0;
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
  const double weight = 256.0 * (2 * b.r + 1) + 2.0 * b.edge;
  b.recip = std::uint32_t(std::lround(double(1 << 23) / weight));
  return b;
}

// One pass along each row, all channels at once: the row is copied into `line` with r + 1
// transparent pixels either side, so the running sum needs no bounds checks.
template <int kChannels>
void BlurRows(std::uint8_t* data, int width, int height, int stride, const Box& b,
              std::vector<std::uint8_t>& line) {
  const std::size_t pad = std::size_t(b.r + 1) * kChannels;
  const std::size_t wide = std::size_t(width) * kChannels;
  line.assign(wide + 2 * pad, 0);
  const std::uint32_t edge = b.edge, recip = b.recip;
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = data + std::ptrdiff_t(y) * stride;
    std::copy_n(row, wide, line.data() + pad);
    const std::uint8_t* in = line.data() + pad;  // in[-pad .. wide + pad) readable
    std::uint32_t sum[kChannels] = {};
    for (int i = -b.r; i <= b.r; ++i) {
      for (int c = 0; c < kChannels; ++c) sum[c] += in[std::ptrdiff_t(i) * kChannels + c];
    }
    const std::ptrdiff_t ahead = std::ptrdiff_t(b.r + 1) * kChannels;
    const std::ptrdiff_t behind = std::ptrdiff_t(b.r) * kChannels;
    for (std::size_t x = 0; x < wide; x += kChannels) {
      const std::uint8_t* p = in + x;
      for (int c = 0; c < kChannels; ++c) {
        const std::uint32_t edges = std::uint32_t(p[c - ahead]) + p[c + ahead];
        row[x + std::size_t(c)] =
            std::uint8_t((((sum[c] << 8) + edge * edges) * recip + (1u << 22)) >> 23);
        sum[c] += std::uint32_t(p[c + ahead]) - p[c - behind];
      }
    }
  }
}

// One pass down the columns, a whole row of samples at a time: `sums` holds each column's
// running sum.
void BlurColumns(std::uint8_t* data, int count, int height, int stride, const Box& b,
                 std::vector<std::uint32_t>& scratch) {
  const std::size_t wide = std::size_t(count);
  scratch.assign(wide * 2 + std::size_t(height) * wide, 0);
  std::uint32_t* sums = scratch.data();
  std::uint32_t* edges = sums + wide;
  auto* copy = reinterpret_cast<std::uint8_t*>(edges + wide);  // the input rows, kept
  for (int y = 0; y < height; ++y) {
    std::copy_n(data + std::ptrdiff_t(y) * stride, wide, copy + std::ptrdiff_t(y) * count);
  }
  const auto row = [&](int y) -> const std::uint8_t* {
    return y >= 0 && y < height ? copy + std::ptrdiff_t(y) * count : nullptr;
  };
  for (int y = -b.r; y <= b.r; ++y) {
    if (const std::uint8_t* r = row(y)) {
      for (std::size_t x = 0; x < wide; ++x) sums[x] += r[x];
    }
  }
  for (int y = 0; y < height; ++y) {
    std::fill_n(edges, wide, 0u);
    const std::uint8_t* before = row(y - b.r - 1);
    const std::uint8_t* after = row(y + b.r + 1);
    if (b.edge != 0) {
      if (before) {
        for (std::size_t x = 0; x < wide; ++x) edges[x] += before[x];
      }
      if (after) {
        for (std::size_t x = 0; x < wide; ++x) edges[x] += after[x];
      }
    }
    std::uint8_t* out = data + std::ptrdiff_t(y) * stride;
    const std::uint32_t edge = b.edge, recip = b.recip;
    for (std::size_t x = 0; x < wide; ++x) {
      out[x] = std::uint8_t((((sums[x] << 8) + edge * edges[x]) * recip + (1u << 22)) >> 23);
    }
    const std::uint8_t* leaving = row(y - b.r);
    if (after) {
      for (std::size_t x = 0; x < wide; ++x) sums[x] += after[x];
    }
    if (leaving) {
      for (std::size_t x = 0; x < wide; ++x) sums[x] -= leaving[x];
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
             float size_y, int passes, std::vector<std::uint32_t>& scratch) {
  if (width <= 0 || height <= 0) return;
  passes = std::clamp(passes, 0, 15);
  const bool across = size_x > 1, down = size_y > 1;
  const Box bx = across ? MakeBox(size_x) : Box{}, by = down ? MakeBox(size_y) : Box{};
  std::vector<std::uint8_t> line;
  for (int pass = 0; pass < passes; ++pass) {
    if (across && channels == 4) BlurRows<4>(data, width, height, stride, bx, line);
    if (across && channels == 1) BlurRows<1>(data, width, height, stride, bx, line);
    if (down) BlurColumns(data, width * channels, height, stride, by, scratch);
  }
}

}  // namespace swf::render
