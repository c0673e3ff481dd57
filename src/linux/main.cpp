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
#include "linux/swf/freetype_fonts.h"
#include "linux/swf/movie_file.h"
#include "linux/swf/mpg123_decoder.h"
#include "linux/swf/sdl_audio_output.h"
#include "linux/swf/sdl_image_decoder.h"
#include "player/mpv/mpv_library.h"
#include "player/mpv/mpv_player.h"
#include "player/skipped_movie_line.h"
#include "player/swf/swf_movie_player.h"
#include "player/swf/swf_player_core.h"
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

  const Uint32 event_types = SDL_RegisterEvents(2);
  if (event_types == static_cast<Uint32>(-1))
    throw std::runtime_error("SDL has no events to spare");
  sdl::Waker player_events(event_types);
  sdl::Waker player_frames(event_types + 1);

  // Declared before the player, so the loading thread outlives every use of the library.
  mpv::MpvLibraryLoader mpv_library;
  sdl::SdlImageDecoder swf_images;
  sdl::FreeTypeFonts swf_fonts;
  // The movie the SWF player turned down and why, for libmpv's skip line when it can't play it
  // either: the line names the SWF player's reason before libmpv's.
  std::string swf_refused;
  std::string swf_refusal;
  sdl::MovieEngines engines;
  auto make_mpv = [&] {
    auto mpv = std::make_unique<mpv::MpvMoviePlayer>(
        mpv_library, window.Video(), [&player_events] { player_events.Wake(); },
        [&player_frames] { player_frames.Wake(); },
        [&reporter, &swf_refused, &swf_refusal](const PathText& path, std::string_view reason) {
          if (swf_refusal.empty() || path != swf_refused) {
            reporter.Report(SkippedMovieLine(path, reason));
            return;
          }
          reporter.Report(SkippedMovieLine(path, swf_refusal + "; " + std::string(reason)));
        });
    engines.mpv = mpv.get();
    return mpv;
  };
  auto make_swf = [&] {
    auto swf = std::make_unique<swfplayer::SwfMoviePlayer>(swfplayer::Platform{
        window.Video(), &sdl::OpenMovieFile,
        swfplayer::MakeCoreLoader(&swf_images, &sdl::MakeMpg123Decoder,
                                  &sdl::MakeAvcodecVideoDecoder, &swf_fonts,
                                  [] { return std::make_unique<sdl::SdlImageDecoder>(); }),
        &sdl::OpenSdlAudio, &sdl::SteadySeconds});
    engines.swf = swf.get();
    return swf;
  };
  // An SWF the SWF player refuses is skipped; one holding video it can't decode goes on to libmpv,
  // which plays the video an SWF wraps.
  SwitchingMoviePlayer player(
      nullptr, make_mpv,
      SwfRoute{.make = make_swf,
               .refused =
                   [&reporter](const PathText& path, const std::string& refusal) {
                     reporter.Report(SkippedMovieLine(path, refusal));
                   },
               .fall_back = SwfFallBack::ToBuiltIn,
               .handed_over =
                   [&swf_refused, &swf_refusal](const PathText& path, const std::string& why) {
                     swf_refused = path;
                     swf_refusal = why;
                   }});

  Main main({window, timer, player, window.LogoBox(), window.Image()},
            {system, processes, text, folder});
  EventDispatcher events(main, reporter);

  events.Load();
  if (events.WindowLoaded()) {
    window.Show();
    window.RedrawIfNeeded();
    // The movie's engine loads while the logo shows; a key pressed sooner waits for the rest.
    mpv_library.Start();
    sdl::RunEventLoop(events, window, timer, engines, player_events, player_frames);
  }
  return events.ExitCode();
}

}  // namespace

int main(int argc, char** /*argv*/) {
  static_cast<void>(argc);  // the launcher takes no options and ignores any it is given
  StderrReporter reporter;
  posix::PosixProcessStarter process_starter;
  return RunWithLastResortStart(process_starter, reporter,
                                [&reporter](ProcessStarter& game) { return Run(reporter, game); });
}
