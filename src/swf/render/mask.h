#pragma once
// Masks of clip depths: 8-bit coverage over the canvas, a stack of them. The top one is either
// being built (shapes add their coverage to it) or active (shapes drawn are clipped by it, and it
// holds the intersection with the masks active below it).

#include <cstddef>
#include <cstdint>
#include <vector>

namespace swf::render {

struct MaskLayer {
  std::vector<std::uint8_t> coverage;
  int width = 0, height = 0;
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // the box of non-zero coverage
  bool building = true;
};

class MaskStack {
 public:
  // Forgets every mask (their memory is kept for reuse).
  void Clear() { count_ = 0; }
  // A new mask being built over a canvas of width x height; with no canvas (`ready` false) it
  // is only counted.
  void Begin(bool ready, int width, int height);
  // The mask being built becomes active: intersected with the one active below it.
  void End(bool ready);
  // Drops the mask made active last.
  void Pop();
  [[nodiscard]] int Depth() const { return int(count_); }

  // The mask being built, if any.
  MaskLayer* Target() {
    return count_ > 0 && masks_[count_ - 1].building ? &masks_[count_ - 1] : nullptr;
  }
  // The active mask that clips what is drawn now, if any; masks below `base` don't count (a
  // layer started above them gets their clip when it is composited).
  [[nodiscard]] const MaskLayer* Clip(std::size_t base = 0) const {
    return count_ > base && !masks_[count_ - 1].building ? &masks_[count_ - 1] : nullptr;
  }

 private:
  std::vector<MaskLayer> masks_;  // the stack; layers past `count_` are kept for reuse
  std::size_t count_ = 0;
};

}  // namespace swf::render
