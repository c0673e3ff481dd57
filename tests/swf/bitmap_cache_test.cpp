// Movies of a picture a frame, as opening movies of the era were shipped: their bitmaps together
// hold more pixels than the cache keeps, and every frame still shows its own picture.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "swf/bitmap_cache.h"
#include "swf/bitmap_prefetch.h"
#include "swf/movie.h"
#include "swf/swf_player.h"
#include "swf_writer.h"

namespace {

using namespace swf_test;

// "JPEG" bytes a FakeJpeg decodes: a frame header with the size, one colour in the scan.
Bytes Picture(int w, int h, std::uint32_t rgb) {
  return {0xFF,
          0xD8,
          0xFF,
          0xC0,
          0,
          11,
          8,
          std::uint8_t(h >> 8),
          std::uint8_t(h),
          std::uint8_t(w >> 8),
          std::uint8_t(w),
          1,
          1,
          0x11,
          0,
          0xFF,
          0xDA,
          0,
          2,
          std::uint8_t(rgb >> 16),
          std::uint8_t(rgb >> 8),
          std::uint8_t(rgb),
          0xFF,
          0xD9};
}

class FakeJpeg final : public swf::ImageDecoder {
 public:
  std::optional<swf::Bitmap> Decode(std::span<const std::uint8_t> b,
                                    std::uint64_t max_pixels) override {
    ++decodes;
    if (b.size() < 24) return std::nullopt;
    const int h = b[7] << 8 | b[8], w = b[9] << 8 | b[10];
    if (std::uint64_t(w) * std::uint64_t(h) > max_pixels) return std::nullopt;
    const std::size_t n = b.size();
    const std::uint32_t argb =
        0xFF000000u | std::uint32_t(b[n - 5]) << 16 | std::uint32_t(b[n - 4]) << 8 | b[n - 3];
    return swf::Bitmap{w, h, std::vector<std::uint32_t>(std::size_t(w) * std::size_t(h), argb)};
  }
  std::atomic<int> decodes{0};
};

std::uint32_t FrameColor(int frame) {
  return std::uint32_t((frame * 37) % 256) << 16 | std::uint32_t(255 - frame % 256) << 8 | 0x40;
}

// `frames` frames of a w x h picture each, placed at depth 1 over the last.
Bytes PictureAFrame(int frames, int w, int h) {
  Bytes tags;
  for (int f = 0; f < frames; ++f) {
    tags = Join({tags, DefineBitsJpeg2(2 * f + 1, Picture(w, h, FrameColor(f))),
                 BitmapShape(2 * f + 2, 2 * f + 1, w, h), PlaceObject2(1, 2 * f + 2), ShowFrame()});
  }
  return Movie(tags, w * 20, h * 20, 30);
}

// The stage's centre pixel of each frame as the timeline shows them, `frames` frames from the
// first (looping).
std::vector<std::uint32_t> CentresOfFrames(swf::Player& player, int frames) {
  player.SetLoop(true);
  player.Play();
  std::vector<std::uint32_t> pixels(32 * 24);
  std::vector<std::uint32_t> centres;
  for (int k = 0; k < frames; ++k) {
    player.AdvanceTo(k == 0 ? 0.0 : (k + 0.5) / 30);
    player.Render({pixels.data(), 32, 24, 32});
    centres.push_back(pixels[12 * 32 + 16]);
  }
  return centres;
}

TEST(BitmapCache, EveryFrameShowsItsPictureWhenTheyExceedTheBudget) {
  // 48 pictures of 4 MiB each: 192 MiB, half again what the cache holds.
  constexpr int kFrames = 48;
  FakeJpeg decoder;
  const auto loaded = swf::LoadMovie(PictureAFrame(kFrames, 1024, 1024), &decoder);
  ASSERT_TRUE(loaded.movie) << loaded.refusal;
  EXPECT_EQ(decoder.decodes, 0);  // nothing decoded before it is drawn
  swf::Player player(loaded.movie);
  // Around twice: the second time through, the first frames' pictures were dropped and come back.
  const std::vector<std::uint32_t> centres = CentresOfFrames(player, 2 * kFrames);
  for (int k = 0; k < 2 * kFrames; ++k) {
    EXPECT_EQ(centres[std::size_t(k)], 0xFF000000u | FrameColor(k % kFrames)) << "frame " << k;
  }
  const swf::BitmapCache::Stats stats = loaded.movie->bitmaps->stats();
  EXPECT_LE(stats.peak_bytes, swf::Limits::kBitmapCacheBytes);
  EXPECT_GT(stats.dropped, 0);
  EXPECT_EQ(stats.decoded, decoder.decodes);
  EXPECT_GE(stats.decoded, 2 * kFrames);
  EXPECT_EQ(stats.failed, 0);
  EXPECT_TRUE(loaded.movie->notes.empty());
}

TEST(BitmapCache, PicturesOnScreenAreKeptOthersDroppedFirst) {
  // Two small pictures used over and over stay; they are decoded once.
  FakeJpeg decoder;
  Bytes tags = Join({DefineBitsJpeg2(1, Picture(8, 8, 0x102030)), BitmapShape(2, 1, 8, 8),
                     DefineBitsJpeg2(3, Picture(8, 8, 0x405060)), BitmapShape(4, 3, 8, 8)});
  for (int f = 0; f < 20; ++f) tags = Join({tags, PlaceObject2(1, f % 2 ? 4 : 2), ShowFrame()});
  const auto loaded = swf::LoadMovie(Movie(tags, 160, 160, 30), &decoder);
  ASSERT_TRUE(loaded.movie);
  swf::Player player(loaded.movie);
  const std::vector<std::uint32_t> centres = CentresOfFrames(player, 20);
  EXPECT_EQ(centres[0], 0xFF102030u);
  EXPECT_EQ(centres[1], 0xFF405060u);
  EXPECT_EQ(decoder.decodes, 2);
  EXPECT_EQ(loaded.movie->bitmaps->stats().dropped, 0);
}

TEST(BitmapCache, UndecodablePictureNotedOnce) {
  FakeJpeg decoder;
  Bytes broken = Picture(8, 8, 0);
  broken.resize(20);  // too short for the fake decoder
  const auto loaded =
      swf::LoadMovie(Movie(Join({DefineBitsJpeg2(1, broken), BitmapShape(2, 1, 8, 8),
                                 PlaceObject2(1, 2), ShowFrame(), ShowFrame()}),
                           160, 160, 30),
                     &decoder);
  ASSERT_TRUE(loaded.movie);
  swf::Player player(loaded.movie);
  static_cast<void>(CentresOfFrames(player, 4));
  EXPECT_EQ(decoder.decodes, 1);
  const auto notes = loaded.movie->bitmaps->Notes();
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0], "bitmap 1: not decoded");
}

TEST(BitmapPrefetcher, DecodesTheNextFramesAndStopsCleanly) {
  constexpr int kFrames = 40;
  FakeJpeg decoder;
  const auto loaded = swf::LoadMovie(PictureAFrame(kFrames, 64, 48), &decoder);
  ASSERT_TRUE(loaded.movie);
  auto own = std::make_unique<FakeJpeg>();
  const FakeJpeg& ahead_decoder = *own;
  swf::BitmapPrefetcher ahead(loaded.movie, std::move(own), 10);
  swf::Player player(loaded.movie);
  player.Play();
  std::vector<std::uint32_t> pixels(32 * 24);
  player.AdvanceTo(0);
  player.Render({pixels.data(), 32, 24, 32});
  ahead.Showing(player.CurrentFrame());
  // Frames 2 to 11 come from the worker's decoder.
  for (int wait = 0; wait < 500 && ahead_decoder.decodes < 10; ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(ahead_decoder.decodes, 10);
  for (int k = 1; k < kFrames; ++k) {
    player.AdvanceTo((k + 0.5) / 30);
    player.Render({pixels.data(), 32, 24, 32});
    EXPECT_EQ(pixels[12 * 32 + 16], 0xFF000000u | FrameColor(k)) << "frame " << k;
    ahead.Showing(player.CurrentFrame());
  }
  ahead.Stop();
  const int after_stop = ahead_decoder.decodes;
  ahead.Showing(1);
  EXPECT_EQ(ahead_decoder.decodes, after_stop);
  // Each picture decoded once, by one thread or the other.
  EXPECT_EQ(decoder.decodes + ahead_decoder.decodes, kFrames);
}

TEST(BitmapPrefetcher, EndsWhileDecoding) {
  FakeJpeg decoder;
  const auto loaded = swf::LoadMovie(PictureAFrame(30, 512, 512), &decoder);
  ASSERT_TRUE(loaded.movie);
  for (int run = 0; run < 3; ++run) {
    swf::BitmapPrefetcher ahead(loaded.movie, std::make_unique<FakeJpeg>(), 30);
    ahead.Showing(run + 1);
    if (run == 1) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }  // each one joined as it goes, whatever it was doing
}

}  // namespace
