// Logo files' first bytes through the header reader that decides whether a picture is decoded.
#include <cstddef>
#include <cstdint>
#include <span>

#include "vocabulary/picture_header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static_cast<void>(launcher::ReadPictureHeader(std::span(data, size)));
  return 0;
}
