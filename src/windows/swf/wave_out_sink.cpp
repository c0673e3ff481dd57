#include "windows/swf/wave_out_sink.h"

// mmsystem.h needs windows.h first.
#include <windows.h>

#include <mmsystem.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
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
// What is still ahead of the speaker past the device's position (its PositionLine). Windows'
// position is the audio engine's clock, the sample being played, give or take its 10 ms period.
// Wine's is what its mixer took: over PulseAudio the sound was heard about 40 ms after the line
// (measured on a null sink's monitor: the picture then comes within 15 ms of its sound).
constexpr std::uint64_t kWindowsMixerFrames = kRate * 10 / 1000;
constexpr std::uint64_t kWineMixerFrames = kRate * 40 / 1000;

using Clock = std::chrono::steady_clock;

// waveOut's position, smoothed into a line at the sample rate. Wine's is what its mixer took, in
// steps of a buffer, whenever its 10 ms period comes round (measured: 1024 frames 20 or 30 ms
// apart), which would show the frames in pairs. The line runs through the lowest of the recent
// readings (position less the samples due by then): a position is never behind the device, only
// ahead of it while a mixer holds what it took. A device that stalls pulls the line back at once;
// one that runs a little fast or slow moves it within the window.
class PositionLine {
 public:
  std::uint64_t At(Clock::time_point now, std::uint64_t reported) {
    // The readings before a device has taken its first buffers don't count: it takes them as
    // fast as it can, so its position starts behind the line it settles on.
    if (reported < std::uint64_t{kBuffers} * kFramesPerBuffer) return reported;
    const double offset = double(reported) - Seconds(now) * kRate;
    while (!readings_.empty() && now - readings_.front().at > kWindow) readings_.pop_front();
    readings_.push_back({now, offset});
    double lowest = offset;
    for (const Reading& reading : readings_) lowest = std::min(lowest, reading.offset);
    const double position = Seconds(now) * kRate + lowest;
    return position > 0 ? static_cast<std::uint64_t>(position) : 0;
  }

 private:
  static constexpr std::chrono::milliseconds kWindow{500};
  struct Reading {
    Clock::time_point at;
    double offset;  // the position less the samples due at `at` since `start_`
  };
  double Seconds(Clock::time_point at) {
    if (start_ == Clock::time_point{}) start_ = at;
    return std::chrono::duration<double>(at - start_).count();
  }

  Clock::time_point start_;
  std::deque<Reading> readings_;
};

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

  // The device's position as heard: see PositionLine.
  [[nodiscard]] std::uint64_t PlayedFrames() const {
    const std::lock_guard lock(line_mutex_);
    // The time first: a reading held up between the two then only looks ahead, which the line
    // ignores, never behind.
    const Clock::time_point now = Clock::now();
    return line_.At(now, DevicePosition());
  }

  [[nodiscard]] std::uint64_t QueuedFrames() const override {
    const std::uint64_t written = written_.load();
    if (written == 0) return 0;
    // What was written and the mixer's share past the position are still to be heard.
    const std::uint64_t ahead = written + mixer_frames_;
    return ahead - std::min(PlayedFrames(), ahead);
  }

 private:
  struct Buffer {
    WAVEHDR header{};
    std::vector<std::int16_t> samples;
    bool prepared = false;
  };

  [[nodiscard]] std::uint64_t DevicePosition() const {
    MMTIME time{};
    time.wType = TIME_SAMPLES;
    if (api_.position(device_, &time, sizeof time) != MMSYSERR_NOERROR ||
        time.wType != TIME_SAMPLES) {
      return 0;
    }
    // The device's count is 32 bits: it wraps after about 27 hours, far beyond any movie.
    return time.u.sample;
  }

  // Refills every buffer the device is done with, then waits for the next one.
  void Run() {
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    while (!stop_) {
      if (written_.load() > 0) (void)PlayedFrames();  // a reading as the device wants more
      for (Buffer& buffer : buffers_) {
        if ((buffer.header.dwFlags & WHDR_DONE) == 0) continue;
        source_(buffer.samples);
        buffer.header.dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
        if (api_.write(device_, &buffer.header, sizeof buffer.header) != MMSYSERR_NOERROR) return;
        written_ += kFramesPerBuffer;
        (void)PlayedFrames();  // and one as it took a buffer
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
  mutable std::mutex line_mutex_;
  mutable PositionLine line_;
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
