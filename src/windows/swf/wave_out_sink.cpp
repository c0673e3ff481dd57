#include "windows/swf/wave_out_sink.h"

// mmsystem.h needs windows.h first.
#include <windows.h>

#include <mmsystem.h>

#include <array>
#include <atomic>
#include <thread>
#include <utility>
#include <vector>

#include "windows/scoped_win.h"
#include "windows/system_library.h"
#include "windows/win32_failure.h"

namespace launcher::win32 {
namespace {

constexpr int kRate = 44100;
// Four buffers of 1024 frames: about 93 ms queued at most, little enough for the picture that
// follows the mixer to stay near the sound, enough for the device never to run dry under load.
constexpr std::size_t kBuffers = 4;
constexpr std::size_t kFramesPerBuffer = 1024;
// What is still ahead of the speaker past the position waveOut reports. Windows' position is the
// audio engine's clock, the sample being played, give or take its 10 ms period. Wine's is what its
// mixer took: over PulseAudio the sound was heard 45 to 60 ms after it (measured on a null sink's
// monitor).
constexpr std::uint64_t kWindowsMixerFrames = kRate * 10 / 1000;
constexpr std::uint64_t kWineMixerFrames = kRate * 45 / 1000;

bool UnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

struct WinmmApi {
  Module winmm;
  decltype(&::waveOutOpen) open = nullptr;
  decltype(&::waveOutClose) close = nullptr;
  decltype(&::waveOutPrepareHeader) prepare = nullptr;
  decltype(&::waveOutUnprepareHeader) unprepare = nullptr;
  decltype(&::waveOutWrite) write = nullptr;
  decltype(&::waveOutReset) reset = nullptr;
  decltype(&::waveOutGetPosition) position = nullptr;

  bool Load(std::string& why) {
    winmm = Module(LoadSystemLibrary(L"winmm.dll"));
    if (!winmm) {
      why = LastErrorText("loading winmm.dll");
      return false;
    }
    const HMODULE m = winmm.get();
    if (!FindExport(m, "waveOutOpen", open) || !FindExport(m, "waveOutClose", close) ||
        !FindExport(m, "waveOutPrepareHeader", prepare) ||
        !FindExport(m, "waveOutUnprepareHeader", unprepare) ||
        !FindExport(m, "waveOutWrite", write) || !FindExport(m, "waveOutReset", reset) ||
        !FindExport(m, "waveOutGetPosition", position)) {
      why = LastErrorText("finding winmm's functions");
      return false;
    }
    return true;
  }
};

class WaveOut final : public WaveOutSink {
 public:
  explicit WaveOut(Source source) : source_(std::move(source)) {}

  ~WaveOut() override {
    stop_ = true;
    if (wakeup_) ::SetEvent(wakeup_.get());
    if (thread_.joinable()) thread_.join();
    if (device_ != nullptr) {
      api_.reset(device_);
      for (Buffer& buffer : buffers_) {
        if (buffer.prepared) api_.unprepare(device_, &buffer.header, sizeof buffer.header);
      }
      api_.close(device_);
    }
  }
  WaveOut(const WaveOut&) = delete;
  WaveOut& operator=(const WaveOut&) = delete;
  WaveOut(WaveOut&&) = delete;
  WaveOut& operator=(WaveOut&&) = delete;

  bool Open(std::string& why) {
    if (!api_.Load(why)) return false;
    wakeup_ = KernelHandle(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!wakeup_) {
      why = LastErrorText("creating an event");
      return false;
    }
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = kRate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = kRate * 4;
    // The device signals the event as each buffer is done; the sink's thread waits on it.
    const MMRESULT opened =
        api_.open(&device_, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(wakeup_.get()), 0,
                  CALLBACK_EVENT);
    if (opened != MMSYSERR_NOERROR) {
      device_ = nullptr;
      why = "opening the sound device failed (waveOut error " + std::to_string(opened) + ")";
      return false;
    }
    for (Buffer& buffer : buffers_) {
      buffer.samples.assign(kFramesPerBuffer * 2, 0);
      buffer.header.lpData = reinterpret_cast<LPSTR>(buffer.samples.data());
      const std::size_t bytes = buffer.samples.size() * sizeof(std::int16_t);
      buffer.header.dwBufferLength = static_cast<DWORD>(bytes);
      if (api_.prepare(device_, &buffer.header, sizeof buffer.header) != MMSYSERR_NOERROR) {
        why = "preparing a sound buffer failed";
        return false;
      }
      buffer.prepared = true;
      buffer.header.dwFlags |= WHDR_DONE;  // free for the first fill
    }
    thread_ = std::thread([this] { Run(); });
    return true;
  }

  [[nodiscard]] std::uint64_t PlayedFrames() const override {
    MMTIME time{};
    time.wType = TIME_SAMPLES;
    if (api_.position(device_, &time, sizeof time) != MMSYSERR_NOERROR ||
        time.wType != TIME_SAMPLES) {
      return 0;
    }
    // The device's count is 32 bits: it wraps after about 27 hours, far beyond any movie.
    return time.u.sample;
  }

  [[nodiscard]] std::uint64_t QueuedFrames() const override {
    const std::uint64_t written = written_.load();
    const std::uint64_t played = PlayedFrames();
    return (written > played ? written - played : 0) + (written > 0 ? mixer_frames_ : 0);
  }

 private:
  struct Buffer {
    WAVEHDR header{};
    std::vector<std::int16_t> samples;
    bool prepared = false;
  };

  // Refills every buffer the device is done with, then waits for the next one.
  void Run() {
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    while (!stop_) {
      for (Buffer& buffer : buffers_) {
        if ((buffer.header.dwFlags & WHDR_DONE) == 0) continue;
        source_(buffer.samples);
        buffer.header.dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
        if (api_.write(device_, &buffer.header, sizeof buffer.header) != MMSYSERR_NOERROR) return;
        written_ += kFramesPerBuffer;
      }
      ::WaitForSingleObject(wakeup_.get(), INFINITE);
    }
  }

  WinmmApi api_;
  Source source_;
  KernelHandle wakeup_;
  HWAVEOUT device_ = nullptr;
  std::array<Buffer, kBuffers> buffers_;
  std::atomic<std::uint64_t> written_{0};
  const std::uint64_t mixer_frames_ = UnderWine() ? kWineMixerFrames : kWindowsMixerFrames;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace

std::unique_ptr<WaveOutSink> OpenWaveOut(WaveOutSink::Source source, std::string& why) {
  auto sink = std::make_unique<WaveOut>(std::move(source));
  if (!sink->Open(why)) return nullptr;
  return sink;
}

}  // namespace launcher::win32
