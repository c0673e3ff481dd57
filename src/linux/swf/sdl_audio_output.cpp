#include "linux/swf/sdl_audio_output.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <utility>

namespace launcher::sdl {
namespace {

constexpr int kRate = 44100;
// About 23 ms a period: short enough that the stream sound paces the frames closely.
constexpr Uint16 kPeriodFrames = 1024;

class SdlAudioOutput final : public swfplayer::AudioOutput {
 public:
  explicit SdlAudioOutput(swfplayer::AudioPull pull) : pull_(std::move(pull)) {}
  ~SdlAudioOutput() override {
    // Closing waits for the device's thread: no pull runs once this returns.
    if (device_ != 0) SDL_CloseAudioDevice(device_);
    if (subsystem_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }
  SdlAudioOutput(const SdlAudioOutput&) = delete;
  SdlAudioOutput& operator=(const SdlAudioOutput&) = delete;
  SdlAudioOutput(SdlAudioOutput&&) = delete;
  SdlAudioOutput& operator=(SdlAudioOutput&&) = delete;

  // The periods SDL holds fall as they play since the last fill: the one just filled waits while
  // the server takes the one before. SDL 2 can't tell what the server holds past them; measured
  // on a PulseAudio sink's monitor, a sample is heard within a few ms of that.
  [[nodiscard]] std::uint64_t QueuedFrames() const override {
    const Uint64 filled_at = filled_at_.load();
    if (filled_at == 0) return 0;
    const double elapsed =
        double(SDL_GetPerformanceCounter() - filled_at) / double(SDL_GetPerformanceFrequency());
    const double held = std::max(0.0, 2.0 * period_.load() - elapsed * kRate);
    return static_cast<std::uint64_t>(held);
  }

  bool Open() {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    subsystem_ = true;
    SDL_AudioSpec wanted{};
    wanted.freq = kRate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = 2;
    wanted.samples = kPeriodFrames;
    wanted.callback = &SdlAudioOutput::Fill;
    wanted.userdata = this;
    SDL_AudioSpec obtained{};
    device_ = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (device_ == 0) return false;
    period_ = obtained.samples;
    SDL_PauseAudioDevice(device_, 0);
    return true;
  }

 private:
  static void Fill(void* self, Uint8* stream, int length) {
    // SDL hands buffers aligned for its sample format.
    auto* samples = reinterpret_cast<std::int16_t*>(stream);
    auto* output = static_cast<SdlAudioOutput*>(self);
    output->pull_({samples, static_cast<std::size_t>(length) / sizeof(std::int16_t)});
    output->filled_at_ = SDL_GetPerformanceCounter();
  }

  swfplayer::AudioPull pull_;
  std::atomic<Uint64> filled_at_{0};  // the performance counter at the last fill; 0: none yet
  std::atomic<int> period_{kPeriodFrames};
  bool subsystem_ = false;
  SDL_AudioDeviceID device_ = 0;
};

}  // namespace

std::unique_ptr<swfplayer::AudioOutput> OpenSdlAudio(swfplayer::AudioPull pull) {
  auto output = std::make_unique<SdlAudioOutput>(std::move(pull));
  if (!output->Open()) return nullptr;
  return output;
}

}  // namespace launcher::sdl
