// The stack of clip masks.
#include "swf/render/mask.h"

#include <algorithm>

#include "swf/render/pixel.h"

namespace swf::render {

void MaskStack::Begin(bool ready, int width, int height) {
  if (!ready) {
    ++count_;
    if (masks_.size() < count_) masks_.resize(count_);
    masks_[count_ - 1].building = true;
    return;
  }
  if (masks_.size() <= count_) masks_.emplace_back();
  MaskLayer& m = masks_[count_++];
  const std::size_t size = std::size_t(width) * std::size_t(height);
  if (m.width != width || m.height != height) {
    m.coverage.assign(size, 0);
    m.width = width;
    m.height = height;
  } else if (m.x0 < m.x1) {
    for (int y = m.y0; y < m.y1; ++y) {
      std::uint8_t* row = m.coverage.data() + std::ptrdiff_t(y) * width;
      std::fill(row + m.x0, row + m.x1, std::uint8_t(0));
    }
  }
  m.x0 = width;
  m.y0 = height;
  m.x1 = m.y1 = 0;
  m.building = true;
}

void MaskStack::End(bool ready) {
  if (count_ == 0 || !masks_[count_ - 1].building) return;
  MaskLayer& m = masks_[count_ - 1];
  m.building = false;
  if (!ready) return;
  // Intersect with the mask active below it, if any.
  --count_;
  const MaskLayer* below = Clip();
  ++count_;
  if (below == nullptr) return;
  const int width = m.width;
  for (int y = m.y0; y < m.y1; ++y) {
    std::uint8_t* row = m.coverage.data() + std::ptrdiff_t(y) * width;
    const std::uint8_t* other = below->coverage.data() + std::ptrdiff_t(y) * width;
    for (int x = m.x0; x < m.x1; ++x) row[x] = std::uint8_t(Mul8(row[x], other[x]));
  }
  // The box shrinks to the common part; the cleared-on-reuse box stays the whole one.
  if (below->x0 > m.x0 || below->x1 < m.x1 || below->y0 > m.y0 || below->y1 < m.y1) {
    const int x0 = std::max(m.x0, below->x0), x1 = std::min(m.x1, below->x1);
    const int y0 = std::max(m.y0, below->y0), y1 = std::min(m.y1, below->y1);
    // Zero what lies outside the common box so the smaller box tells the truth.
    for (int y = m.y0; y < m.y1; ++y) {
      std::uint8_t* row = m.coverage.data() + std::ptrdiff_t(y) * width;
      if (y < y0 || y >= y1) {
        std::fill(row + m.x0, row + m.x1, std::uint8_t(0));
      } else {
        std::fill(row + m.x0, row + std::max(m.x0, x0), std::uint8_t(0));
        std::fill(row + std::min(m.x1, std::max(x1, m.x0)), row + m.x1, std::uint8_t(0));
      }
    }
    if (x0 >= x1 || y0 >= y1) {
      m.x0 = m.y0 = m.x1 = m.y1 = 0;
    } else {
      m.x0 = x0;
      m.x1 = x1;
      m.y0 = y0;
      m.y1 = y1;
    }
  }
}

void MaskStack::Pop() {
  for (std::size_t i = count_; i > 0; --i) {
    if (!masks_[i - 1].building) {
      // Drop it; building layers above it (not expected) go with it.
      count_ = i - 1;
      return;
    }
  }
}

}  // namespace swf::render
