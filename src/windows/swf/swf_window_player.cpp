#include "windows/swf/swf_window_player.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "player/swf/swf_movie_player.h"
#include "player/swf/swf_player_core.h"
#include "windows/scoped_win.h"
#include "windows/swf/acm_mp3_decoder.h"
#include "windows/swf/frame_window.h"
#include "windows/swf/gdi_device_fonts.h"
#include "windows/swf/wave_out_sink.h"
#include "windows/swf/wic_image_decoder.h"
#include "windows/win32_failure.h"
#include "windows/win32_files.h"
#include "windows/win32_text_rules.h"

namespace launcher::win32 {
namespace {

// The movie's file, read in order as it plays, with the same long-path handling as every other
// file; the system's words when it can't be opened. A read that fails later ends the file there.
class MovieFile final : public swf::ByteSource {
 public:
  MovieFile(const PathText& path, std::size_t max_bytes)
      : file_(::CreateFileW(ExtendedLengthPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                            nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr)) {
    const auto fail = [](std::wstring_view step, DWORD error) {
      throw std::runtime_error(ToUtf8(FailureText(step, HRESULT_FROM_WIN32(error))));
    };
    if (!file_) fail(L"opening the file", ::GetLastError());
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file_.get(), &size)) fail(L"reading the file's size", ::GetLastError());
    if (static_cast<std::uint64_t>(size.QuadPart) > max_bytes) {
      throw std::runtime_error("the file is larger than the player reads");
    }
    size_ = static_cast<std::uint64_t>(size.QuadPart);
  }

  std::size_t Read(std::span<std::uint8_t> out) override {
    std::size_t done = 0;
    while (done < out.size()) {
      DWORD read = 0;
      const auto ask = static_cast<DWORD>(std::min<std::size_t>(out.size() - done, 1u << 20));
      if (!::ReadFile(file_.get(), out.data() + done, ask, &read, nullptr) || read == 0) break;
      done += read;
    }
    return done;
  }
  [[nodiscard]] std::uint64_t size() const override { return size_; }

 private:
  KernelHandle file_;
  std::uint64_t size_ = 0;
};

std::unique_ptr<swf::ByteSource> OpenMovieFile(const PathText& path, std::size_t max_bytes) {
  return std::make_unique<MovieFile>(path, max_bytes);
}

double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Ties the engine to the frame window: Play arms the window's timer, each firing runs the frame
// that is due, hands the movie's commands on and arms the timer for the next one.
class SwfWindowPlayer final : public SelectiveMoviePlayer {
 public:
  SwfWindowPlayer(HWND parent, const TwipsScale& scale, CommandSink commands)
      : commands_(std::move(commands)),
        images_(MakeWicImageDecoder()),
        fonts_(MakeGdiDeviceFonts()),
        frames_(parent, scale, [this] { RunDueFrame(); }),
        engine_(swfplayer::Platform{
            frames_,
            &OpenMovieFile,
            swfplayer::MakeCoreLoader(images_.get(), Mp3Decoders(), {}, fonts_.get()),
            [](swfplayer::AudioPull pull) -> std::unique_ptr<swfplayer::AudioOutput> {
              std::string why;  // no device: the movie plays silently, which is no failure
              return OpenWaveOut(std::move(pull), why);
            },
            &SteadySeconds,
        }) {}

  void SetVisible(bool visible) override { engine_.SetVisible(visible); }
  void SetTop(Twips top) override { engine_.SetTop(top); }
  void SetLeft(Twips left) override { engine_.SetLeft(left); }
  void SetHeight(Twips height) override { engine_.SetHeight(height); }
  void SetWidth(Twips width) override { engine_.SetWidth(width); }
  void SetLoop(bool loop) override { engine_.SetLoop(loop); }
  void SetMovie(const PathText& path) override {
    frames_.CancelRun();
    engine_.SetMovie(path);
  }
  void Play() override {
    engine_.Play();
    Arm();
  }
  [[nodiscard]] bool Playing() override { return engine_.Playing(); }
  void StopPlay() override {
    frames_.CancelRun();
    engine_.StopPlay();
  }
  [[nodiscard]] std::string Refusal() const override { return engine_.Refusal(); }
  [[nodiscard]] std::string LeftForOthers() const override { return engine_.LeftForOthers(); }

 private:
  static swf::Mp3DecoderFactory Mp3Decoders() {
    std::string why;  // without the ACM, MP3 sound is silent and the pictures still play
    return AcmMp3Decoders(why);
  }

  void RunDueFrame() {
    for (const MovieCommand& command : engine_.RunFrame()) {
      commands_(FromUtf8(command.command), FromUtf8(command.args));
    }
    Arm();
  }

  // The timer for the next frame, rounded up to whole milliseconds so that it never fires early.
  void Arm() {
    const std::optional<double> due = engine_.NextFrameDue();
    if (!due) {
      frames_.CancelRun();
      return;
    }
    const double wait = std::ceil((*due - SteadySeconds()) * 1000);
    frames_.RunAfter(wait > 0 ? static_cast<unsigned>(std::min(wait, 60'000.0)) : 0);
  }

  CommandSink commands_;
  std::unique_ptr<swf::ImageDecoder> images_;  // these two outlive every movie the engine loads
  std::unique_ptr<swf::DeviceFonts> fonts_;
  FrameWindow frames_;
  swfplayer::SwfMoviePlayer engine_;
};

}  // namespace

std::unique_ptr<SelectiveMoviePlayer> CreateSwfPlayer(HWND parent, const TwipsScale& scale,
                                                      CommandSink commands) {
  return std::make_unique<SwfWindowPlayer>(parent, scale, std::move(commands));
}

}  // namespace launcher::win32
