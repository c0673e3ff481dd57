// Writes the end-to-end tests' SWF movies into a folder, with the tests' own tag writer:
//   vector.swf      a 2:1 stage on blue at 30 fps: a red rectangle over the whole stage for
//                   1.5 s, then a yellow one for 1.5 s, with a 22 kHz tone as stream sound; the
//                   timeline ends after 90 frames
//   vector-cws.swf  the same, compressed
//   close.swf       red for 10 s, with FSCommand "Close" at 1 s
//   long.swf        red for 10 s
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

#include "swf_writer.h"

namespace {

using swf_test::Bits;
using swf_test::Bytes;
using swf_test::Join;
using swf_test::Tag;

constexpr int kFps = 30;
constexpr std::int32_t kStageWidth = 9600;  // twips: 480 x 240 pixels
constexpr std::int32_t kStageHeight = 4800;
constexpr int kSoundRate = 22050;
constexpr int kSamplesPerFrame = kSoundRate / kFps;

Bytes Background(std::uint32_t rgb) {
  return Tag(9, Bits().U8(rgb >> 16).U8(rgb >> 8).U8(rgb).bytes);
}

// SoundStreamHead2: uncompressed little-endian 16-bit mono PCM at 22 kHz.
Bytes StreamHead() {
  constexpr std::uint32_t format = (2u << 2) | (1u << 1);  // 22 kHz, 16-bit, mono
  return Tag(45, Bits().U8(format).U8((3u << 4) | format).U16(kSamplesPerFrame).bytes);
}

// One frame's block of a 440 Hz tone at a quarter of full scale.
Bytes StreamBlock(int frame) {
  Bits b;
  for (int i = 0; i < kSamplesPerFrame; ++i) {
    const double t = double(frame * kSamplesPerFrame + i) / kSoundRate;
    const auto sample = static_cast<std::int16_t>(8192 * std::sin(2 * 3.14159265358979 * 440 * t));
    b.U16(static_cast<std::uint16_t>(sample));
  }
  return Tag(19, b.bytes);
}

Bytes Vector() {
  Bytes tags = Join({Background(0x0000FF), StreamHead(),
                     swf_test::RectShape(1, kStageWidth, kStageHeight, 0xFF0000FF),
                     swf_test::RectShape(2, kStageWidth, kStageHeight, 0xFFFF00FF),
                     swf_test::PlaceObject2(1, 1)});
  for (int frame = 0; frame < 3 * kFps; ++frame) {
    if (frame == 3 * kFps / 2) {
      tags = Join({tags, swf_test::RemoveObject2(1), swf_test::PlaceObject2(1, 2)});
    }
    tags = Join({tags, StreamBlock(frame), swf_test::ShowFrame()});
  }
  return tags;
}

// Ten seconds of red; with `close`, FSCommand "Close" at 1 s.
Bytes Red(bool close) {
  Bytes tags =
      Join({Background(0x0000FF), swf_test::RectShape(1, kStageWidth, kStageHeight, 0xFF0000FF),
            swf_test::PlaceObject2(1, 1)});
  for (int frame = 0; frame < 10 * kFps; ++frame) {
    if (close && frame == kFps) {
      tags = Join({tags, swf_test::DoAction({swf_test::GetUrl("FSCommand:Close", "")})});
    }
    tags = Join({tags, swf_test::ShowFrame()});
  }
  return tags;
}

bool Write(const std::string& folder, const char* name, const Bytes& file) {
  std::ofstream out(folder + "/" + name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: write_test_swfs FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  using swf_test::Movie;
  const bool written =
      Write(folder, "vector.swf", Movie(Vector(), kStageWidth, kStageHeight, kFps)) &&
      Write(folder, "vector-cws.swf", Movie(Vector(), kStageWidth, kStageHeight, kFps, true)) &&
      Write(folder, "close.swf", Movie(Red(true), kStageWidth, kStageHeight, kFps)) &&
      Write(folder, "long.swf", Movie(Red(false), kStageWidth, kStageHeight, kFps));
  if (!written) {
    std::fprintf(stderr, "write_test_swfs: can't write into %s\n", folder.c_str());
    return 1;
  }
  return 0;
}
