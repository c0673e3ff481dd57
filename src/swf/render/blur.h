#pragma once
// The box blur of filters: separable running sums, a box `size` pixels wide (fractional sizes
// weigh the two outermost taps by the fraction), repeated `passes` times along each axis. What
// lies outside the picture counts as transparent. Loops run over whole rows of channels so the
// compiler vectorises them.

#include <cstdint>
#include <vector>

namespace swf::render {

// What the blur reuses from call to call.
struct BlurScratch {
  std::vector<std::uint32_t> sums;
  std::vector<std::uint32_t> turned;
};

// How far (whole pixels) a blur of `size` with `passes` reaches beyond what it blurs.
int BlurReach(float size, int passes);

// Blurs `channels` (1 or 4) interleaved 8-bit channels of a width x height picture, rows `stride`
// bytes apart, in place. Sizes under 1 leave that axis as it is.
void BoxBlur(std::uint8_t* data, int width, int height, int stride, int channels, float size_x,
             float size_y, int passes, BlurScratch& scratch);

}  // namespace swf::render
