#pragma once
// Delivers events to the window the way the event loop must: one at a time, and with one policy
// for an error that no handler traps. Such an error is reported in one line, the window is
// unloaded if it is still loaded (a broken opening must never keep the player from the game),
// and the run ends with a failure status.

#include <string_view>

#include "launcher/launcher_window.h"

namespace launcher {

class EventDispatcher {
 public:
  EventDispatcher(Main& window, ErrorReporter& reporter) : window_(window), reporter_(reporter) {}

  void Load();
  void Tick();
  void Command(std::string_view command, std::string_view args);
  // The system asks the window to close.
  void CloseRequest();

  // Whether the event loop still has a window to run for.
  [[nodiscard]] bool WindowLoaded() const { return window_.Loaded(); }
  // The program's exit status: 0 unless an error escaped a handler.
  [[nodiscard]] int ExitCode() const { return failed_ ? 1 : 0; }

 private:
  template <typename Handler>
  void Deliver(std::string_view event, Handler&& handler);

  Main& window_;
  ErrorReporter& reporter_;
  bool failed_ = false;
};

}  // namespace launcher
