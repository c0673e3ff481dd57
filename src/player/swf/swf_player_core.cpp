#include "player/swf/swf_player_core.h"

#include <set>
#include <utility>

#include "swf/movie.h"
#include "swf/swf_player.h"

namespace launcher::swfplayer {
namespace {

class SwfPlayerCore final : public MovieCore {
 public:
  SwfPlayerCore(std::shared_ptr<const swf::Movie> movie, swf::Mp3DecoderFactory mp3,
                swf::VideoDecoderFactory video, swf::DeviceFonts* fonts)
      : frame_rate_(swf::Stage(*movie).frame_rate),
        player_(std::move(movie), std::move(mp3), std::move(video)) {
    player_.SetDeviceFonts(fonts);
  }

  double FrameRate() const override { return frame_rate_; }
  void SetLoop(bool loop) override { player_.SetLoop(loop); }
  void Play() override { player_.Play(); }
  void StopPlay() override { player_.StopPlay(); }
  bool Playing() const override { return player_.Playing(); }
  void SetOutputDelay(std::uint64_t samples) override { player_.SetOutputDelay(samples); }
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

// The video codecs of the movie that neither the core nor the platform decodes, named.
std::string UndecodedVideo(const swf::Movie& movie, const swf::VideoDecoderFactory& video) {
  std::set<int> codecs;
  for (const auto& [id, character] : movie.dictionary) {
    if (const auto* stream = std::get_if<std::shared_ptr<const swf::VideoStream>>(&character)) {
      codecs.insert((*stream)->codec);
    }
  }
  std::string named;
  for (const int codec : codecs) {
    if (swf::MakeVideoDecoder(codec, video)) continue;
    named += (named.empty() ? "" : ", ") + swf::VideoCodecName(codec);
  }
  return named.empty() ? named : named + " is not decoded";
}

CoreLoader MakeCoreLoader(swf::ImageDecoder* images, swf::Mp3DecoderFactory mp3,
                          swf::VideoDecoderFactory video, swf::DeviceFonts* fonts) {
  return [images, mp3 = std::move(mp3), video = std::move(video),
          fonts](std::span<const std::uint8_t> file) {
    swf::LoadResult loaded = swf::LoadMovie(file, images);
    LoadedCore result;
    if (loaded.movie) {
      result.left_for_others = UndecodedVideo(*loaded.movie, video);
      result.core = std::make_unique<SwfPlayerCore>(std::move(loaded.movie), mp3, video, fonts);
    } else {
      result.refusal = std::move(loaded.refusal);
    }
    return result;
  };
}

}  // namespace launcher::swfplayer
