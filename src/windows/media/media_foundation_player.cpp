#include "windows/media/media_foundation_player.h"

#include <mfapi.h>

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "player/playback_watch.h"
#include "windows/media/mf_pipeline.h"
#include "windows/media/video_window.h"
#include "windows/scoped_win.h"
#include "windows/win32_failure.h"

namespace launcher::win32 {
namespace {

using mf::Failure;
using mf::MediaFoundationApi;
using mf::Note;
using mf::Pipeline;
using mf::VideoWindow;

// How long the engine's end waits for the pipeline to close before the process goes on without
// it. The window is already gone and the game started by then.
constexpr DWORD kTeardownWaitMs = 800;
// How long the session gets to report itself closed before the source and the session are shut
// down without that report. Wine 8's session sometimes never reports the close of a movie played
// to its end, and a process ended under its still busy threads crashes.
constexpr DWORD kCloseReportWaitMs = 250;

// Where the current movie stands. Only Move changes it.
enum class Phase {
  None,           // no movie: none set yet, or the last one let go of
  Opening,        // the pipeline opens the movie; Play not called yet
  OpeningToPlay,  // the pipeline opens the movie, and Play was called: it starts once open
  Open,           // open, waiting for Play
  Starting,       // the session was asked to start; its first frame is on the way
  Showing,        // the session runs, and the video window shows its frames
  Over,           // ended, failed or stopped: the pipeline closes, and what it still reports
                  // changes nothing
};

// What moves the movie from one phase to another.
enum class Event {
  Load,     // a new movie's pipeline began opening it
  Play,     // Play was called
  Opened,   // the pipeline opened the movie
  Started,  // the session started
  Over,     // the movie ended, failed, was stopped, or the watch says its time is up
  LetGo,    // the movie is let go of: another one comes, or the player goes
};

class MediaFoundationPlayer final : public MoviePlayer, VideoWindow::Listener {
 public:
  MediaFoundationPlayer(HWND parent, const TwipsScale& scale, SkipReporter report,
                        const MediaFoundationApi& api, std::optional<Failure> missing)
      : scale_(scale),
        skip_(std::move(report)),
        api_(api),
        unavailable_(missing),
        video_(parent, *this) {
    if (!unavailable_) {
      const HRESULT hr = api_.startup(MF_VERSION, MFSTARTUP_LITE);
      if (FAILED(hr)) unavailable_ = Failure{L"starting Media Foundation", hr};
    }
    if (!unavailable_ && video_.get() == nullptr) {
      unavailable_ = Failure{L"creating the video window", HRESULT_FROM_WIN32(GetLastError())};
    }
  }

  ~MediaFoundationPlayer() override {
    video_.Hide();
    Move(Event::LetGo);
    // The window is gone and the game started: what is left of the pipelines gets a short while
    // to close, so that no thread of theirs is busy when the process ends. One that takes longer
    // is left behind rather than keep the process alive.
    const ULONGLONG start = GetTickCount64();
    for (const auto& pipeline : closing_) {
      if (!pipeline->WaitClosed(start + kCloseReportWaitMs)) pipeline->ShutDownNow();
    }
    for (const auto& pipeline : closing_) {
      static_cast<void>(pipeline->WaitClosed(start + kTeardownWaitMs));
    }
    // No MFShutdown: it closes the work queues' thread pools, whose threads then exit just as the
    // process ends, and Wine 8 crashes a process that ends under threads still at work. The
    // process ends right after this; Media Foundation's start-up count needs no balancing then.
  }

  MediaFoundationPlayer(const MediaFoundationPlayer&) = delete;
  MediaFoundationPlayer& operator=(const MediaFoundationPlayer&) = delete;

  void SetVisible(bool visible) override { video_.SetVisible(visible); }
  void SetTop(Twips top) override { video_.Set(&VideoWindow::Area::top, scale_.Pixels(top)); }
  void SetLeft(Twips left) override { video_.Set(&VideoWindow::Area::left, scale_.Pixels(left)); }
  void SetHeight(Twips height) override {
    video_.Set(&VideoWindow::Area::height, scale_.Pixels(height));
  }
  void SetWidth(Twips width) override {
    video_.Set(&VideoWindow::Area::width, scale_.Pixels(width));
  }

  // The engine plays every movie once.
  void SetLoop(bool) override {}

  void SetMovie(const PathText& path) override {
    // The same movie again while it opens (a second key in the same tick): its pipeline stays.
    if (path == path_ && watch_.Opening()) return;
    Move(Event::LetGo);
    watch_.Load();
    path_ = path;
    if (unavailable_) {
      Fail(*unavailable_);
      return;
    }
    pipeline_ = std::make_shared<Pipeline>(api_, video_.get(), video_.get());
    Move(Event::Load);
    if (auto failure = pipeline_->Open(path)) Fail(*failure);
  }

  void Play() override {
    // Played again while it opens: it starts once, as soon as it is open.
    if (watch_.Starting() || phase_ == Phase::Over) return;
    watch_.Play();
    Move(Event::Play);
  }

  bool Playing() override {
    // Read on every tick of the movie: the moment to follow the owner should it have moved, and
    // to read the session's clock, since the end report may never come.
    video_.Place();
    if (pipeline_ && phase_ != Phase::Over) {
      if (const auto position = pipeline_->Position()) watch_.Reached(*position);
    }
    if (watch_.Playing()) return true;
    // Over by the watch: the pipeline starts closing now, while the launcher starts the game.
    Move(Event::Over);
    return false;
  }

  void StopPlay() override {
    // A stopped movie is never resumed: the pipeline may go.
    watch_.Stop();
    Move(Event::Over);
  }

 private:
  // VideoWindow::Listener
  void ReadNotes() override {
    if (!pipeline_) return;
    // A note may lead to the pipeline's close, which retires it: read from a reference of our own.
    const std::shared_ptr<Pipeline> pipeline = pipeline_;
    for (const Note& note : pipeline->TakeNotes()) {
      if (pipeline_ != pipeline) return;
      Read(note);
    }
  }

  void FitVideo() override {
    if (pipeline_) pipeline_->FitVideo();
  }

  void Read(const Note& note) {
    // What a closing pipeline still reports (its stop, an error on the way) changes nothing.
    if (phase_ == Phase::Over) return;
    if (FAILED(note.status)) {
      Fail(Failure{note.kind == Note::Kind::Opened ? note.step : EventStep(note.event),
                   note.status});
      return;
    }
    if (note.kind == Note::Kind::Opened) {
      if (note.duration) watch_.SetDuration(*note.duration);
      Move(Event::Opened);
      return;
    }
    switch (note.event) {
      case MESessionStarted:
        watch_.Began();
        Move(Event::Started);
        break;
      case MESessionEnded:
        // Played once: the pipeline may start closing while the window still shows.
        watch_.Ended();
        Move(Event::Over);
        break;
      default:
        break;
    }
  }

  // The movie's transitions, all of them.
  void Move(Event event) {
    switch (event) {
      case Event::Load:
        phase_ = Phase::Opening;
        break;
      case Event::Play:
        if (phase_ == Phase::Opening) {
          phase_ = Phase::OpeningToPlay;
        } else if (phase_ == Phase::Open || phase_ == Phase::Showing) {
          StartSession();
        }
        break;
      case Event::Opened:
        if (phase_ == Phase::Opening) {
          phase_ = Phase::Open;
        } else if (phase_ == Phase::OpeningToPlay) {
          StartSession();
        }
        break;
      case Event::Started:
        if (phase_ != Phase::Starting) break;
        phase_ = Phase::Showing;
        video_.SetHasFrame(true);
        break;
      case Event::Over:
        if (phase_ == Phase::Over) break;
        phase_ = Phase::Over;
        if (pipeline_) pipeline_->Close();
        break;
      case Event::LetGo:
        // Without waiting for its pipeline to wind down.
        if (pipeline_) {
          pipeline_->Detach();
          pipeline_->Close();
          closing_.push_back(std::move(pipeline_));
          pipeline_.reset();
        }
        std::erase_if(closing_, [](const auto& pipeline) { return pipeline->Closed(); });
        phase_ = Phase::None;
        video_.SetHasFrame(false);
        break;
    }
  }

  // Part of Move: kStarting, or over with the reason it couldn't start.
  void StartSession() {
    phase_ = Phase::Starting;
    if (const HRESULT hr = pipeline_->Start(); FAILED(hr)) Fail(Failure{L"starting playback", hr});
  }

  // The movie reads as not playing from now on, and its reason goes out (once).
  void Fail(const Failure& failure) {
    watch_.Failed();
    skip_.Skip(path_, FailureText(failure.step, failure.code));
    Move(Event::Over);
  }

  static const wchar_t* EventStep(MediaEventType event) {
    switch (event) {
      case MESessionTopologySet:
        return L"setting the playback topology";
      case MESessionTopologyStatus:
        return L"resolving the playback topology";
      case MESessionStarted:
        return L"starting playback";
      default:
        return L"playing the movie";
    }
  }

  ComApartment com_{COINIT_APARTMENTTHREADED};
  TwipsScale scale_;
  SkipOnce skip_;
  const MediaFoundationApi api_;
  std::optional<Failure> unavailable_;
  // The movie's state, before the video window: the window may call back while it is made.
  PathText path_;
  PlaybackWatch watch_;
  Phase phase_ = Phase::None;
  std::shared_ptr<Pipeline> pipeline_;
  std::vector<std::shared_ptr<Pipeline>> closing_;
  VideoWindow video_;
};

}  // namespace

std::unique_ptr<MoviePlayer> CreateMediaFoundationPlayer(HWND parent, const TwipsScale& scale,
                                                         SkipReporter report,
                                                         const mf::MediaFoundationApi& api) {
  return std::make_unique<MediaFoundationPlayer>(parent, scale, std::move(report), api,
                                                 std::nullopt);
}

std::unique_ptr<MoviePlayer> CreateMediaFoundationPlayer(HWND parent, const TwipsScale& scale,
                                                         SkipReporter report) {
  MediaFoundationApi api;
  std::optional<Failure> missing = mf::LoadApi(api);
  return std::make_unique<MediaFoundationPlayer>(parent, scale, std::move(report), api, missing);
}

}  // namespace launcher::win32
