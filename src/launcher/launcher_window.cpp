#include "launcher/launcher_window.h"

#include "handoff/launch_command.h"
#include "launcher/virtual_keys.h"

namespace launcher {
namespace {

bool IsDown(const KeyState& keys, std::size_t code) {
  return (keys[code] & kKeyDown) != 0;
}

}  // namespace

Main::Main(MainControls controls, MainServices services)
    : controls_(controls), services_(std::move(services)) {}

void Main::Load() {
  try {
    ApplySettings(ReadLaunchSettings(services_.application_folder, services_.text));
    RunLogoSequence();
  } catch (...) {
    // The window is gone when its unload handler failed inside the sequence: nothing is left to
    // lay out, and the error belongs to the event loop.
    if (unloaded_) throw;
    // The one fallback: the defaults, and the logo sequence once more with no handling.
    ApplySettings(DefaultLaunchSettings(services_.application_folder));
    RunLogoSequence();
  }
}

void Main::ApplySettings(const LaunchSettings& settings) {
  logo_path_ = settings.logo_path;
  movie_path_ = settings.movie_path;
  full_screen_ = settings.full_screen;
}

void Main::RunLogoSequence() {
  auto& [form, timer, player, logo, image] = controls_;
  SystemServices& system = services_.system;

  if (!system.FilePresent(logo_path_)) {
    Unload();
    return;
  }

  logo.SetVisible(false);
  logo.SetAutoSize(true);
  logo.SetPicture(system.LoadPicture(logo_path_));
  logo.SetTop(0);
  logo.SetLeft(0);

  if (full_screen_) {
    LayOutFullScreen();
  } else {
    LayOutWindowed();
  }

  image.SetTop(0);
  image.SetLeft(0);
  image.SetStretch(full_screen_);
  image.SetPicture(logo.Picture());
  image.SetHeight(form.Height());
  image.SetWidth(form.Width());

  // The window is still hidden here.
  system.Sleep(kStartupPauseMilliseconds);

  player.SetVisible(false);
  player.SetTop(0);
  player.SetLeft(0);
  player.SetHeight(logo.Height());
  player.SetWidth(logo.Width());
  player.SetLoop(false);

  logo_phase_ = true;
  timer.SetInterval(kTickMilliseconds);
}

void Main::LayOutFullScreen() {
  auto& [form, timer, player, logo, image] = controls_;
  const PixelSize screen = services_.system.ScreenSize();
  // No flags: the placement must not show the window before the load handler returns.
  services_.system.SetWindowPos(form.Handle(), kTopmostWindow, 0, 0, screen.width, screen.height,
                                0);
  logo.SetAutoSize(false);
  logo.SetHeight(form.Height());
  logo.SetWidth(form.Width());
}

void Main::LayOutWindowed() {
  auto& [form, timer, player, logo, image] = controls_;
  form.SetHeight(logo.Height());
  form.SetWidth(logo.Width());
}

void Main::Tick() {
  if (unloaded_) return;
  KeyState keys{};
  services_.system.GetKeyboardState(keys);

  if (logo_phase_) {
    // Every code counts here, mouse buttons included. The scan visits all 256 entries: each
    // further entry down starts the movie again, which ends in the same state as one entry.
    for (std::size_t code = 0; code < keys.size(); ++code) {
      if (!IsDown(keys, code)) continue;
      controls_.timer.SetInterval(0);
      if (!services_.system.FilePresent(movie_path_)) {
        // The window is gone: no control may be touched after this.
        Unload();
        return;
      }
      StartMovie();
    }
    return;
  }

  // Playing is read on every movie-phase tick, also when Esc or the left button is down.
  const bool playing = controls_.player.Playing();
  const bool escape = IsDown(keys, vk::kEscape);
  const bool left_button = IsDown(keys, vk::kLeftButton);
  if (!playing || escape || left_button) Unload();
}

void Main::StartMovie() {
  MoviePlayer& player = controls_.player;
  player.SetVisible(true);
  player.SetMovie(movie_path_);
  player.Play();
  logo_phase_ = false;
  controls_.timer.SetInterval(kTickMilliseconds);
}

void Main::FSCommand(std::string_view command, std::string_view args) {
  static_cast<void>(args);  // no command of this launcher takes arguments
  if (unloaded_) return;
  // Every command costs the wait, whatever it is.
  services_.system.Sleep(kCommandPauseMilliseconds);
  if (command != "Close") return;
  controls_.player.StopPlay();
  controls_.player.SetVisible(false);
}

void Main::Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  struct DismissOnExit {
    Form& form;
    ~DismissOnExit() { form.Dismiss(); }
  } dismiss{controls_.form};
  OnUnload();
}

void Main::OnUnload() {
  // The game starts on every unload, whatever its cause; nothing cancels the unload.
  services_.processes.Start(kLaunchCommand);
}

}  // namespace launcher
