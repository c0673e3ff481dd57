#pragma once
// The launcher's frame, shared by both platforms' programs: the outermost frame that starts the
// game whatever happens, and inside it the delivery of events to the window the way the event loop
// must: one at a time, and with one policy for an error that no handler traps. Such an error is
// reported in one line, the window is unloaded if it is still loaded (a broken opening must never
// keep the player from the game), and the run ends with a failure status.

#include <exception>
#include <functional>
#include <string_view>

#include "handoff/process_starter.h"
#include "launcher/launcher_window.h"

namespace launcher {

// One line about an error, to wherever the platform reports errors. Reporting never fails.
class ErrorReporter {
 public:
  virtual ~ErrorReporter() = default;
  virtual void Report(std::string_view line) noexcept = 0;
};

// Reports an error in one line: "launcher: unhandled error in <event>: <what it says>" for one
// that escaped an event's handler, "launcher: <what it says>" for one outside every event (no
// event named); "unknown error" for an error that says nothing, "launcher: error" when not even
// that line can be made.
void ReportError(ErrorReporter& reporter, std::string_view event,
                 const std::exception_ptr& error) noexcept;

// The launcher's outermost frame. Calls run with a starter that starts the game once per run, and
// returns its status. When run fails (no window could be made, or its event loop broke), the
// failure is reported in one line and the game starts anyway, unless run started it already: a
// broken opening must not keep the player from the game. The status is then 1.
int RunWithLastResortStart(ProcessStarter& starter, ErrorReporter& reporter,
                           const std::function<int(ProcessStarter& game)>& run);

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
