// swfcheck on Linux: bitmaps through SDL_image, as the launcher decodes them.

#include <iostream>
#include <string>
#include <vector>

#include "linux/swf/sdl_image_decoder.h"
#include "swfcheck/swfcheck.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  launcher::sdl::SdlImageDecoder images;
  return swfcheck::Run(args, &images, std::cout, std::cerr);
}
