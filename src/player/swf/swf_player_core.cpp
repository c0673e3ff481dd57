#include "player/swf/swf_player_core.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <utility>

#include "swf/bitmap_prefetch.h"
#include "swf/movie.h"
#include "swf/swf_player.h"

namespace launcher::swfplayer {
namespace {

class SwfPlayerCore final : public MovieCore {
 public:
  SwfPlayerCore(std::shared_ptr<const swf::Movie> movie, swf::Mp3DecoderFactory mp3,
                swf::VideoDecoderFactory video, swf::DeviceFonts* fonts,
                const swf::ImageDecoderFactory& images_ahead)
      : frame_rate_(swf::Stage(*movie).frame_rate),
        player_(movie, std::move(mp3), std::move(video)) {
    player_.SetDeviceFonts(fonts);
    if (images_ahead) {
      const double rate = std::isfinite(frame_rate_) ? std::clamp(frame_rate_, 1.0, 120.0) : 1.0;
      ahead_ = std::make_unique<swf::BitmapPrefetcher>(std::move(movie), images_ahead(),
                                                       int(std::ceil(rate)));
    }
  }

  double FrameRate() const override { return frame_rate_; }
  void SetLoop(bool loop) override { player_.SetLoop(loop); }
  void Play() override { player_.Play(); }
  void StopPlay() override {
    player_.StopPlay();
    if (ahead_) ahead_->Stop();
  }
  bool Playing() const override { return player_.Playing(); }
  void SetOutputDelay(std::uint64_t samples) override { player_.SetOutputDelay(samples); }
  void AdvanceTo(double seconds) override { player_.AdvanceTo(seconds); }
  double NextFrameTime() const override { return player_.NextFrameTime(); }
  int CurrentFrame() const override { return player_.CurrentFrame(); }
  void Render(const FramePixels& frame) override {
    player_.Render(frame);
    // After the frame's own pictures are decoded here: the next second's are decoded meanwhile;
    // none once the movie has ended.
    if (!ahead_) return;
    if (player_.Playing()) {
      ahead_->Showing(player_.CurrentFrame());
      started_ = true;
    } else if (started_) {
      ahead_->Stop();
    }
  }
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
  std::unique_ptr<swf::BitmapPrefetcher> ahead_;  // stopped before the player goes
  bool started_ = false;                          // the movie has played: its end ends ahead_
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
                          swf::VideoDecoderFactory video, swf::DeviceFonts* fonts,
                          swf::ImageDecoderFactory images_ahead) {
  return [images, mp3 = std::move(mp3), video = std::move(video), fonts,
          images_ahead = std::move(images_ahead)](std::unique_ptr<swf::ByteSource> file) {
    swf::LoadResult loaded = swf::LoadMovie(std::move(file), images);
    LoadedCore result;
    if (loaded.movie) {
      result.left_for_others = UndecodedVideo(*loaded.movie, video);
      result.core =
          std::make_unique<SwfPlayerCore>(std::move(loaded.movie), mp3, video, fonts, images_ahead);
    } else {
      result.refusal = std::move(loaded.refusal);
    }
    return result;
  };
}

}  // namespace launcher::swfplayer
