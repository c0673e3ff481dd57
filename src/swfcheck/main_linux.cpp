// swfcheck on Linux: bitmaps through SDL_image, video through libavcodec and text in the
// system's fonts through FreeType, as the launcher has them.

#include <iostream>
#include <string>
#include <vector>

#include "linux/swf/avcodec_video_decoder.h"
#include "linux/swf/freetype_fonts.h"
#include "linux/swf/sdl_image_decoder.h"
#include "swfcheck/swfcheck.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  launcher::sdl::SdlImageDecoder images;
  launcher::sdl::FreeTypeFonts fonts;
  return swfcheck::Run(args, {&images, &launcher::sdl::MakeAvcodecVideoDecoder, &fonts}, std::cout,
                       std::cerr);
}
