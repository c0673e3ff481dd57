#include "player/swf/swf_player_core.h"

#include <utility>

#include "swf/movie.h"
#include "swf/swf_player.h"

namespace launcher::swfplayer {
namespace {

class SwfPlayerCore final : public MovieCore {
 public:
  SwfPlayerCore(std::shared_ptr<const swf::Movie> movie, swf::Mp3DecoderFactory mp3)
      : frame_rate_(swf::Stage(*movie).frame_rate), player_(std::move(movie), std::move(mp3)) {}

  double FrameRate() const override { return frame_rate_; }
  void SetLoop(bool loop) override { player_.SetLoop(loop); }
  void Play() override { player_.Play(); }
  void StopPlay() override { player_.StopPlay(); }
  bool Playing() const override { return player_.Playing(); }
  void AdvanceTo(double seconds) override { player_.AdvanceTo(seconds); }
  int CurrentFrame() const override { return player_.CurrentFrame(); }
  void Render(const FramePixels& frame) override { player_.Render(frame); }
  std::vector<MovieCommand> TakeCommands() override {
    std::vector<MovieCommand> commands;
    for (swf::MovieCommand& sent : player_.TakeCommands()) {
      commands.push_back({std::move(sent.command), std::move(sent.args)});
    }
    return commands;
  }
  void PullAudio(std::span<std::int16_t> stereo) override { player_.PullAudio(stereo); }

 private:
  double frame_rate_;
  swf::Player player_;
};

}  // namespace

CoreLoader MakeCoreLoader(swf::ImageDecoder* images, swf::Mp3DecoderFactory mp3) {
  return [images, mp3 = std::move(mp3)](std::span<const std::uint8_t> file) {
    swf::LoadResult loaded = swf::LoadMovie(file, images);
    LoadedCore result;
    // A movie that defines nothing to draw is, in practice, an embedded video (which the core
    // skips): another player shows it better than a background colour would.
    if (loaded.movie && loaded.movie->dictionary.empty()) {
      result.refusal = "nothing to draw (no shapes, text or bitmaps; embedded video is not played)";
    } else if (loaded.movie) {
      result.core = std::make_unique<SwfPlayerCore>(std::move(loaded.movie), mp3);
    } else {
      result.refusal = std::move(loaded.refusal);
    }
    return result;
  };
}

}  // namespace launcher::swfplayer
