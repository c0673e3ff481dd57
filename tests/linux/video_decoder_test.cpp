// The core's video decoders beside libavcodec's (the Linux adapter) on streams ffmpeg encoded,
// and a movie that shows one of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "flv_packets.h"
#include "linux/swf/avcodec_video_decoder.h"
#include "swf/movie.h"
#include "swf/swf_player.h"
#include "swf/video.h"
#include "swf_writer.h"

namespace {

swf_test::FlvVideo Clip(const std::string& name) {
  return swf_test::ReadFlvVideo(std::string(SWF_VIDEO_DATA) + "/" + name);
}

struct Difference {
  int max = 0;
  double mean = 0;
};
// Over the colour channels of two pictures of one size.
Difference Compare(const std::uint32_t* a, const std::uint32_t* b, std::size_t pixels) {
  Difference d;
  long total = 0;
  for (std::size_t i = 0; i < pixels; ++i) {
    for (int shift = 0; shift < 24; shift += 8) {
      const int diff = std::abs(int((a[i] >> shift) & 0xFF) - int((b[i] >> shift) & 0xFF));
      d.max = std::max(d.max, diff);
      total += diff;
    }
  }
  d.mean = pixels ? double(total) / double(pixels * 3) : 0;
  return d;
}

// Each packet decoded by the core and by libavcodec gives the same picture (H.263 within the
// rounding of two inverse transforms, drifting a little over the inter pictures).
TEST(VideoDecoders, CoreMatchesLibavcodec) {
  struct Case {
    const char* clip;
    int frames;
    int max;
    double mean;
  };
  const Case cases[] = {
      {"h263_64x48.flv", 12, 6, 0.1},   // intra every sixth picture, moving
      {"h263_72x40.flv", 8, 6, 0.3},    // edges inside macroblocks, coarse quantiser
      {"screen_96x64.flv", 4, 0, 0.0},  // blocks left out where nothing moved
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.clip);
    const swf_test::FlvVideo clip = Clip(c.clip);
    ASSERT_EQ(int(clip.packets.size()), c.frames);
    auto core = swf::MakeVideoDecoder(clip.codec, {});
    auto reference = launcher::sdl::MakeAvcodecVideoDecoder(clip.codec);
    ASSERT_TRUE(core && reference);
    swf::Bitmap ours, theirs;
    for (std::size_t i = 0; i < clip.packets.size(); ++i) {
      SCOPED_TRACE(i);
      ASSERT_TRUE(core->Decode(clip.packets[i], ours));
      ASSERT_TRUE(reference->Decode(clip.packets[i], theirs));
      ASSERT_EQ(ours.width, theirs.width);
      ASSERT_EQ(ours.height, theirs.height);
      const Difference d = Compare(ours.pixels.data(), theirs.pixels.data(), ours.pixels.size());
      EXPECT_LE(d.max, c.max);
      EXPECT_LE(d.mean, c.mean);
    }
  }
}

// What the core leaves to the platform: Screen Video 2 and VP6 come from libavcodec.
TEST(VideoDecoders, PlatformDecodesTheRest) {
  const swf_test::FlvVideo clip = Clip("screen2_96x64.flv");
  ASSERT_EQ(clip.codec, int(swf::VideoCodec::ScreenVideo2));
  auto decoder = swf::MakeVideoDecoder(clip.codec, &launcher::sdl::MakeAvcodecVideoDecoder);
  ASSERT_TRUE(decoder);
  swf::Bitmap picture;
  for (const auto& packet : clip.packets) {
    ASSERT_TRUE(decoder->Decode(packet, picture));
    EXPECT_EQ(picture.width, 96);
    EXPECT_EQ(picture.height, 64);
  }
  EXPECT_TRUE(launcher::sdl::MakeAvcodecVideoDecoder(int(swf::VideoCodec::Vp6)));
  EXPECT_TRUE(launcher::sdl::MakeAvcodecVideoDecoder(int(swf::VideoCodec::Vp6Alpha)));
  EXPECT_FALSE(launcher::sdl::MakeAvcodecVideoDecoder(9));
}

// A movie placing the stream with the frame number as ratio shows each picture in place, going
// forward packet by packet and, when it loops, back from the keyframe.
TEST(VideoInMovie, ShowsThePictureOfEachRatio) {
  using namespace swf_test;
  const FlvVideo clip = Clip("h263_64x48.flv");
  const int count = int(clip.packets.size());
  Bytes tags = DefineVideoStream(1, count, 64, 48, clip.codec);
  for (int i = 0; i < count; ++i) {
    tags = Join({tags, VideoFrame(1, i, clip.packets[std::size_t(i)]),
                 PlaceObject2(1, i == 0 ? 1 : 0, 0, 0, "", 0, i), ShowFrame()});
  }
  const swf::LoadResult loaded = swf::LoadMovie(Movie(tags, 64 * 20, 48 * 20), nullptr);
  ASSERT_TRUE(loaded.movie);
  swf::Player player(loaded.movie);
  player.SetLoop(true);
  player.Play();
  // The pictures as the stream decodes them, one after the other.
  std::vector<swf::Bitmap> expected(clip.packets.size());
  auto decoder = swf::MakeVideoDecoder(clip.codec, {});
  for (int i = 0; i < count; ++i) {
    ASSERT_TRUE(decoder->Decode(clip.packets[std::size_t(i)], expected[std::size_t(i)]));
  }
  std::vector<std::uint32_t> frame(std::size_t{64} * 48);
  const std::vector<int> shown = {0, 3, 4, 9, count + 1, count + 7};
  for (int tick = 0; tick <= shown.back(); ++tick) {
    SCOPED_TRACE(tick);
    player.AdvanceTo(tick == 0 ? 0 : (double(tick) + 0.5) / 10);
    if (std::find(shown.begin(), shown.end(), tick) == shown.end()) continue;
    ASSERT_EQ(player.CurrentFrame(), tick % count + 1);
    player.Render({frame.data(), 64, 48, 64});
    const Difference d =
        Compare(frame.data(), expected[std::size_t(tick % count)].pixels.data(), frame.size());
    EXPECT_LE(d.max, 2);
  }
  EXPECT_TRUE(player.LeftOutSoFar().empty());
}

}  // namespace
