#pragma once
// Main: the launcher's one window, its state and its four handlers. Load lays out the logo, each
// tick of the timer moves from logo to movie to close, the player's FSCommand "Close" stops the
// movie, and every unload starts the game exactly once.

#include <string_view>

#include "handoff/process_starter.h"
#include "launcher/window_parts.h"
#include "player/movie_player.h"
#include "settings/launch_settings.h"
#include "settings/text_rules.h"

namespace launcher {

// The window and its controls as created, in twips; each platform creates them so.
namespace created {
inline constexpr std::string_view kCaption = "Game";
inline constexpr Twips kWindowWidth = 3090;
inline constexpr Twips kWindowHeight = 2940;
struct Rect {
  Twips left, top, width, height;
};
inline constexpr Rect kPlayer{1560, 120, 1095, 1095};
inline constexpr Rect kLogo{240, 120, 1080, 1095};
inline constexpr Rect kImage{0, 0, 855, 735};
}  // namespace created

inline constexpr int kTickMilliseconds = 50;
inline constexpr int kStartupPauseMilliseconds = 100;
inline constexpr int kCommandPauseMilliseconds = 200;

struct MainControls {
  Form& form;
  TimerControl& timer;
  MoviePlayer& player;  // SWFPlayer
  PictureBox& logo;
  ImageControl& image;  // ImgTemp
};

struct MainServices {
  SystemServices& system;
  ProcessStarter& processes;
  const TextRules& text;
  PathText application_folder;
};

class Main {
 public:
  Main(MainControls controls, MainServices services);
  Main(const Main&) = delete;
  Main& operator=(const Main&) = delete;

  // Event handlers. Each may throw: only Load has a fallback of its own, and only for its first
  // failure. The event loop decides what an escaping error does (see EventDispatcher).
  void Load();
  void Tick();
  void FSCommand(std::string_view command, std::string_view args);

  // Unloads the window: runs the unload handler, which starts the game, then dismisses the
  // window. Only the first call does anything, so the game starts once per run. The window is
  // dismissed even when the unload handler throws; the error is passed on.
  void Unload();
  [[nodiscard]] bool Loaded() const { return !unloaded_; }

  [[nodiscard]] const PathText& LogoPath() const { return logo_path_; }
  [[nodiscard]] const PathText& movie_path() const { return movie_path_; }
  [[nodiscard]] bool full_screen() const { return full_screen_; }
  [[nodiscard]] bool LogoPhase() const { return logo_phase_; }

 private:
  void ApplySettings(const LaunchSettings& settings);
  void RunLogoSequence();
  void LayOutFullScreen();
  void LayOutWindowed();
  void StartMovie();
  void OnUnload();

  MainControls controls_;
  MainServices services_;

  PathText logo_path_;
  PathText movie_path_;
  bool full_screen_ = false;
  bool logo_phase_ = false;
  bool unloaded_ = false;
};

}  // namespace launcher
