// The launcher on Linux: the window Main on SDL, the opening movie on the built-in SWF player or
// libmpv, the game started through the launch command. It takes no options and reads no
// environment variable of its own.

#include <unistd.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "handoff/process_starter.h"
#include "launcher/event_dispatch.h"
#include "launcher/launcher_window.h"
#include "linux/app_folder.h"
#include "linux/event_loop.h"
#include "linux/posix_files.h"
#include "linux/posix_text_rules.h"
#include "linux/process_start.h"
#include "linux/sdl_system.h"
#include "linux/sdl_video.h"
#include "linux/sdl_window.h"
#include "linux/swf/avcodec_video_decoder.h"
#include "linux/swf/mpg123_decoder.h"
#include "linux/swf/sdl_audio_output.h"
#include "linux/swf/sdl_image_decoder.h"
#include "linux/swf/video_layer_surface.h"
#include "player/mpv/mpv_library.h"
#include "player/mpv/mpv_player.h"
#include "player/skipped_movie_line.h"
#include "player/swf/core_movie.h"
#include "player/swf/swf_movie_player.h"
#include "player/switching_player.h"

namespace {

using namespace launcher;

// One line on stderr for each error that no handler traps.
class StderrReporter final : public ErrorReporter {
 public:
  void Report(std::string_view line) noexcept override {
    std::string text(line);
    text += '\n';
    static_cast<void>(::write(STDERR_FILENO, text.data(), text.size()));
  }
};

int Run(StderrReporter& reporter, ProcessStarter& processes) {
  const PathText folder = posix::ApplicationFolder();
  const sdl::SdlVideo video;

  sdl::SdlWindow window;
  sdl::SdlTimer timer;
  sdl::SdlSystem system(window);
  const posix::PosixTextRules text;

  const Uint32 eventTypes = SDL_RegisterEvents(2);
  if (eventTypes == static_cast<Uint32>(-1)) throw std::runtime_error("SDL has no events to spare");
  sdl::Waker playerEvents(eventTypes);
  sdl::Waker playerFrames(eventTypes + 1);

  // Declared before the player, so the loading thread outlives every use of the library.
  mpv::MpvLibraryLoader mpvLibrary;
  sdl::VideoLayerSurface swfSurface(window.Video());
  sdl::SdlImageDecoder swfImages;
  // The movie the SWF player turned down and why, for libmpv's skip line when it can't play it
  // either: the line names the SWF player's reason before libmpv's.
  std::string swfRefused;
  std::string swfRefusal;
  sdl::MovieEngines engines;
  auto makeMpv = [&] {
    auto mpv = std::make_unique<mpv::MpvMoviePlayer>(
        mpvLibrary, window.Video(), [&playerEvents] { playerEvents.Wake(); },
        [&playerFrames] { playerFrames.Wake(); },
        [&reporter, &swfRefused, &swfRefusal](const PathText& path, std::string_view reason) {
          if (swfRefusal.empty() || path != swfRefused) {
            reporter.Report(SkippedMovieLine(path, reason));
            return;
          }
          reporter.Report(SkippedMovieLine(path, swfRefusal + "; " + std::string(reason)));
        });
    engines.mpv = mpv.get();
    return mpv;
  };
  auto makeSwf = [&] {
    auto swf = std::make_unique<swfplayer::SwfMoviePlayer>(
        swfplayer::Platform{swfSurface, &posix::ReadOrdinaryFile,
                            swfplayer::MakeCoreLoader(&swfImages, &sdl::MakeMpg123Decoder,
                                                      &sdl::MakeAvcodecVideoDecoder),
                            &sdl::OpenSdlAudio, &sdl::SteadySeconds});
    engines.swf = swf.get();
    return swf;
  };
  // An SWF the SWF player refuses is skipped; one holding video it can't decode goes on to libmpv,
  // which plays the video an SWF wraps.
  SwitchingMoviePlayer player(
      nullptr, makeMpv,
      SwfRoute{makeSwf,
               [&reporter](const PathText& path, const std::string& refusal) {
                 reporter.Report(SkippedMovieLine(path, refusal));
               },
               true,
               [&swfRefused, &swfRefusal](const PathText& path, const std::string& why) {
                 swfRefused = path;
                 swfRefusal = why;
               }});

  Main main({window, timer, player, window.LogoBox(), window.Image()},
            {system, processes, text, folder});
  EventDispatcher events(main, reporter);

  events.Load();
  if (events.WindowLoaded()) {
    window.Show();
    window.RedrawIfNeeded();
    // The movie's engine loads while the logo shows; a key pressed sooner waits for the rest.
    mpvLibrary.Start();
    sdl::RunEventLoop(events, window, timer, engines, playerEvents, playerFrames);
  }
  return events.ExitCode();
}

}  // namespace

int main(int argc, char** /*argv*/) {
  static_cast<void>(argc);  // the launcher takes no options and ignores any it is given
  StderrReporter reporter;
  posix::PosixProcessStarter processStarter;
  return RunWithLastResortStart(processStarter, reporter,
                                [&reporter](ProcessStarter& game) { return Run(reporter, game); });
}
