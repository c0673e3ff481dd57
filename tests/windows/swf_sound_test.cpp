// The SWF player's sound on Windows: MP3 through the ACM, and waveOut pulling from a source.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "windows/swf/acm_mp3_decoder.h"
#include "windows/swf/wave_out_sink.h"
#include "windows/win32_system.h"

namespace launcher::win32 {
namespace {

std::vector<std::uint8_t> ReadBeside(const std::wstring& name) {
  std::ifstream file(std::filesystem::path(FolderOf(ModuleFileName()) + L"\\" + name),
                     std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// A 1 kHz tone written by the build (tests/windows/CMakeLists.txt) with ffmpeg's sine source (an
// eighth of full scale; made stereo, 3 dB less), at the rates and channel counts the files of the
// era used most.
struct Tone {
  const wchar_t* file;
  int rate;
  int channels;
  double level;  // peak, as a fraction of full scale
};

class AcmMp3 : public testing::TestWithParam<Tone> {};

TEST_P(AcmMp3, DecodesAToneFrameByFrame) {
  const Tone tone = GetParam();
  const std::vector<std::uint8_t> bytes = ReadBeside(tone.file);
  ASSERT_FALSE(bytes.empty());
  std::string why;
  const swf::Mp3DecoderFactory factory = AcmMp3Decoders(why);
  ASSERT_TRUE(factory) << why;
  const auto decoder = factory();
  ASSERT_TRUE(decoder);

  std::vector<std::int16_t> heard;
  std::size_t frames = 0;
  int samples_per_frame = 0;
  for (std::size_t at = 0; at + 4 <= bytes.size();) {
    const std::span<const std::uint8_t> rest(bytes.data() + at, bytes.size() - at);
    const auto header = swf::ReadMp3FrameHeader(rest);
    if (!header || header->size > rest.size()) {
      ++at;  // a tag before the first frame
      continue;
    }
    swf::Pcm pcm;
    ASSERT_TRUE(decoder->DecodeFrame(rest.first(header->size), pcm));
    if (!pcm.samples.empty()) {
      EXPECT_EQ(pcm.rate, tone.rate);
      EXPECT_EQ(pcm.channels, tone.channels);
    }
    heard.insert(heard.end(), pcm.samples.begin(), pcm.samples.end());
    samples_per_frame = header->samples_per_frame;
    at += header->size;
    ++frames;
  }
  ASSERT_GT(frames, 10u);
  // All the sound comes out, give or take what the codec holds back at the end.
  const std::size_t decoded = heard.size() / static_cast<std::size_t>(tone.channels);
  EXPECT_LE(decoded, frames * static_cast<std::size_t>(samples_per_frame));
  EXPECT_GE(decoded, (frames - 2) * static_cast<std::size_t>(samples_per_frame));

  // The middle of the first channel is the tone: 1 kHz, at the level it was written.
  const std::size_t from = decoded / 4;
  const std::size_t to = decoded * 3 / 4;
  int crossings = 0;
  double power = 0;
  for (std::size_t i = from; i < to; ++i) {
    const int now = heard[i * static_cast<std::size_t>(tone.channels)];
    const int before = heard[(i - 1) * static_cast<std::size_t>(tone.channels)];
    if ((before < 0) != (now < 0)) ++crossings;
    power += double(now) * now;
  }
  const double seconds = double(to - from) / tone.rate;
  EXPECT_NEAR(crossings / 2.0 / seconds, 1000.0, 20.0);
  const double level = std::sqrt(power / double(to - from)) * std::sqrt(2.0) / 32768.0;
  EXPECT_NEAR(level, tone.level, 0.02);
}

INSTANTIATE_TEST_SUITE_P(Tones, AcmMp3,
                         testing::Values(Tone{L"tone-44100-2.mp3", 44100, 2, 0.125 / 1.4142},
                                         Tone{L"tone-22050-1.mp3", 22050, 1, 0.125},
                                         Tone{L"tone-11025-1.mp3", 11025, 1, 0.125}),
                         [](const testing::TestParamInfo<Tone>& tone) {
                           return std::to_string(tone.param.rate) + "Hz" +
                                  std::to_string(tone.param.channels) + "ch";
                         });

TEST(AcmMp3, BytesThatAreNoFrameYieldNothingAndTheStreamGoesOn) {
  std::string why;
  const auto decoder = AcmMp3Decoders(why)();
  const std::vector<std::uint8_t> junk(400, 0x5a);
  swf::Pcm pcm;
  EXPECT_TRUE(decoder->DecodeFrame(junk, pcm));
  EXPECT_TRUE(pcm.samples.empty());
}

// Either the device plays what the source gives, or there is none and the sink says why; both
// happen on players' machines.
TEST(WaveOut, PullsFromItsSourceOrSaysWhyNot) {
  std::mutex mutex;
  std::condition_variable pulled;
  int pulls = 0;
  std::string why;
  auto sink = OpenWaveOut(
      [&](std::span<std::int16_t> stereo) {
        EXPECT_EQ(stereo.size() % 2, 0u);
        std::fill(stereo.begin(), stereo.end(), std::int16_t{0});
        const std::scoped_lock lock(mutex);
        ++pulls;
        pulled.notify_all();
      },
      why);
  if (!sink) {
    EXPECT_FALSE(why.empty());
    GTEST_SKIP() << "no sound device: " << why;
  }
  std::unique_lock lock(mutex);
  // More pulls than the sink has buffers: the device played some and gave them back.
  EXPECT_TRUE(pulled.wait_for(lock, std::chrono::seconds(5), [&] { return pulls > 6; }));
  lock.unlock();
  sink.reset();  // stops pulling before the source's state goes
}

}  // namespace
}  // namespace launcher::win32
