#include "windows/swf/acm_mp3_decoder.h"

// mmreg.h and msacm.h need windows.h and mmsystem.h first.
#include <windows.h>

#include <mmsystem.h>

#include <mmreg.h>
#include <msacm.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "windows/system_library.h"
#include "windows/win32_failure.h"

namespace launcher::win32 {
namespace {

// The ACM functions the decoder calls. msacm32 imports winmm: that goes first, from the system
// folder, so that msacm32's import finds it loaded rather than searching for it.
struct AcmApi {
  Module winmm;
  Module acm;
  decltype(&::acmStreamOpen) open = nullptr;
  decltype(&::acmStreamClose) close = nullptr;
  decltype(&::acmStreamPrepareHeader) prepare = nullptr;
  decltype(&::acmStreamUnprepareHeader) unprepare = nullptr;
  decltype(&::acmStreamConvert) convert = nullptr;
};

std::shared_ptr<const AcmApi> LoadAcm(std::string& why) {
  auto api = std::make_shared<AcmApi>();
  api->winmm = Module(LoadSystemLibrary(L"winmm.dll"));
  if (api->winmm) api->acm = Module(LoadSystemLibrary(L"msacm32.dll"));
  if (!api->acm) {
    why = LastErrorText("loading msacm32.dll");
    return nullptr;
  }
  const HMODULE acm = api->acm.get();
  if (!FindExport(acm, "acmStreamOpen", api->open) ||
      !FindExport(acm, "acmStreamClose", api->close) ||
      !FindExport(acm, "acmStreamPrepareHeader", api->prepare) ||
      !FindExport(acm, "acmStreamUnprepareHeader", api->unprepare) ||
      !FindExport(acm, "acmStreamConvert", api->convert)) {
    why = LastErrorText("finding the ACM's functions");
    return nullptr;
  }
  return api;
}

// What one conversion call may write: a frame is at most 1152 stereo samples, and the codec may
// hand over several it held back at once; a fuller output takes another call.
constexpr std::size_t kOutputBytes = std::size_t{1152} * 2 * 2 * 4;

// One continuous MP3 stream. The stream is opened at the first frame's rate and channels, and
// opened again should they change (a file that splices two encodings).
class AcmMp3Decoder final : public swf::Mp3Decoder {
 public:
  explicit AcmMp3Decoder(std::shared_ptr<const AcmApi> api)
      : api_(std::move(api)), output_(kOutputBytes) {}
  ~AcmMp3Decoder() override { Close(); }
  AcmMp3Decoder(const AcmMp3Decoder&) = delete;
  AcmMp3Decoder& operator=(const AcmMp3Decoder&) = delete;
  AcmMp3Decoder(AcmMp3Decoder&&) = delete;
  AcmMp3Decoder& operator=(AcmMp3Decoder&&) = delete;

  bool DecodeFrame(std::span<const std::uint8_t> frame, swf::Pcm& out) override {
    const auto header = swf::ReadMp3FrameHeader(frame);
    if (!header) return true;  // not a frame: nothing to hear, the stream goes on
    if (stream_ == nullptr || header->rate != rate_ || header->channels != channels_) {
      Close();
      if (!Open(*header)) return false;
    }
    pending_.insert(pending_.end(), frame.begin(), frame.end());
    out.rate = rate_;
    out.channels = channels_;
    // The codec takes what it can of the pending bytes each call; whatever it leaves waits for
    // the next frame. A call that neither reads nor writes ends the loop.
    while (!pending_.empty()) {
      ACMSTREAMHEADER step{};
      step.cbStruct = sizeof step;
      step.pbSrc = pending_.data();
      step.cbSrcLength = static_cast<DWORD>(pending_.size());
      step.pbDst = output_.data();
      step.cbDstLength = static_cast<DWORD>(output_.size());
      if (api_->prepare(stream_, &step, 0) != MMSYSERR_NOERROR) return false;
      const MMRESULT converted =
          api_->convert(stream_, &step, started_ ? 0 : ACM_STREAMCONVERTF_START);
      api_->unprepare(stream_, &step, 0);
      if (converted != MMSYSERR_NOERROR) return false;
      started_ = true;
      const std::size_t used = std::min<std::size_t>(step.cbSrcLengthUsed, pending_.size());
      const std::size_t made = std::min<std::size_t>(step.cbDstLengthUsed, output_.size()) / 2;
      pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used));
      const std::size_t at = out.samples.size();
      out.samples.resize(at + made);
      std::memcpy(out.samples.data() + at, output_.data(), made * 2);
      if (used == 0 && made == 0) break;
    }
    return true;
  }

 private:
  bool Open(const swf::Mp3FrameHeader& header) {
    MPEGLAYER3WAVEFORMAT mp3{};
    mp3.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
    mp3.wfx.nChannels = static_cast<WORD>(header.channels);
    mp3.wfx.nSamplesPerSec = static_cast<DWORD>(header.rate);
    mp3.wfx.nAvgBytesPerSec =
        static_cast<DWORD>(header.size * static_cast<std::size_t>(header.rate) /
                           static_cast<std::size_t>(header.samples_per_frame));
    mp3.wfx.nBlockAlign = 1;
    mp3.wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
    mp3.wID = MPEGLAYER3_ID_MPEG;
    mp3.fdwFlags = MPEGLAYER3_FLAG_PADDING_ISO;
    mp3.nBlockSize = static_cast<WORD>(header.size);
    mp3.nFramesPerBlock = 1;
    mp3.nCodecDelay = 0;
    WAVEFORMATEX pcm{};
    pcm.wFormatTag = WAVE_FORMAT_PCM;
    pcm.nChannels = mp3.wfx.nChannels;
    pcm.nSamplesPerSec = mp3.wfx.nSamplesPerSec;
    pcm.wBitsPerSample = 16;
    pcm.nBlockAlign = static_cast<WORD>(pcm.nChannels * 2);
    pcm.nAvgBytesPerSec = pcm.nSamplesPerSec * pcm.nBlockAlign;
    HACMSTREAM stream = nullptr;
    if (api_->open(&stream, nullptr, &mp3.wfx, &pcm, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME) !=
        MMSYSERR_NOERROR) {
      return false;
    }
    stream_ = stream;
    rate_ = header.rate;
    channels_ = header.channels;
    started_ = false;
    return true;
  }

  void Close() {
    if (stream_ != nullptr) api_->close(stream_, 0);
    stream_ = nullptr;
    pending_.clear();
  }

  std::shared_ptr<const AcmApi> api_;
  HACMSTREAM stream_ = nullptr;
  int rate_ = 0;
  int channels_ = 0;
  bool started_ = false;
  std::vector<std::uint8_t> pending_;
  std::vector<std::uint8_t> output_;
};

}  // namespace

swf::Mp3DecoderFactory AcmMp3Decoders(std::string& why) {
  std::shared_ptr<const AcmApi> api = LoadAcm(why);
  if (!api) return {};
  return
      [api]() -> std::unique_ptr<swf::Mp3Decoder> { return std::make_unique<AcmMp3Decoder>(api); };
}

}  // namespace launcher::win32
