#pragma once
// Blend modes: a layer's premultiplied pixel s drawn onto the pixel d below it. The separable
// modes follow the one compositing rule, s and d each keeping their own part where the other
// is transparent: out = s (1 - da) + d (1 - sa) + sa da B(s / sa, d / da). Invert, alpha and
// erase change only what lies below.

#include <cstdint>

#include "swf/effects.h"

namespace swf::render {

[[nodiscard]] std::uint32_t Blend(BlendMode mode, std::uint32_t s, std::uint32_t d);

// dst[i] = Blend(mode, src[i], dst[i]) for i < n.
void BlendRow(BlendMode mode, const std::uint32_t* src, std::uint32_t* dst, int n);

}  // namespace swf::render
