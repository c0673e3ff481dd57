// SWF files through the reader and the player: loaded, played for a few frames, each drawn
// small, the commands and a little sound taken. Pictures "decode" to a tiny bitmap, so the
// paths after a decoder (JPEG alpha planes) run too.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "swf/swf_player.h"

namespace {

class TinyPictures final : public swf::ImageDecoder {
 public:
  std::optional<swf::Bitmap> Decode(std::span<const std::uint8_t> bytes,
                                    std::uint64_t max_pixels) override {
    if (bytes.size() < 4 || max_pixels < 6) return std::nullopt;
    return swf::Bitmap{3, 2, std::vector<std::uint32_t>(6, 0xFF336699u)};
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TinyPictures pictures;
  const swf::LoadResult loaded = swf::LoadMovie(std::span(data, size), &pictures);
  if (!loaded.movie) return 0;
  swf::Player player(loaded.movie);
  player.Play();
  std::vector<std::uint32_t> pixels(40 * 30);
  std::vector<std::int16_t> sound(1024);
  for (int step = 0; step < 4; ++step) {
    player.AdvanceTo(step * 0.25);
    player.Render({pixels.data(), 40, 30, 40});
    player.PullAudio(sound);
  }
  static_cast<void>(player.TakeCommands());
  return 0;
}
