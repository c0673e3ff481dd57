#include "linux/swf/sdl_audio_output.h"

#include <SDL.h>

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
    SDL_PauseAudioDevice(device_, 0);
    return true;
  }

 private:
  static void Fill(void* self, Uint8* stream, int length) {
    // SDL hands buffers aligned for its sample format.
    auto* samples = reinterpret_cast<std::int16_t*>(stream);
    static_cast<SdlAudioOutput*>(self)->pull_(
        {samples, static_cast<std::size_t>(length) / sizeof(std::int16_t)});
  }

  swfplayer::AudioPull pull_;
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
