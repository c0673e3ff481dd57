#pragma once
// The SWF player's device fonts on Linux: faces found by fontconfig (Japanese ones with a
// Japanese language hint), outlines read by FreeType.

#include <map>
#include <memory>
#include <string>
#include <utility>

#include "swf/text/device_fonts.h"

namespace launcher::sdl {

class FreeTypeFonts final : public swf::DeviceFonts {
 public:
  FreeTypeFonts();
  ~FreeTypeFonts() override;
  FreeTypeFonts(const FreeTypeFonts&) = delete;
  FreeTypeFonts& operator=(const FreeTypeFonts&) = delete;
  FreeTypeFonts(FreeTypeFonts&&) = delete;
  FreeTypeFonts& operator=(FreeTypeFonts&&) = delete;

  std::optional<swf::DeviceGlyph> Glyph(const swf::DeviceFace& face, char32_t code) override;
  swf::DeviceFontMetrics Metrics(const swf::DeviceFace& face) override;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace launcher::sdl
