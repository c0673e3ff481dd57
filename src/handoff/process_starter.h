#pragma once
// Starts a process from a whole command line, hidden and never waited for.

#include <functional>
#include <stdexcept>
#include <string_view>

namespace launcher {

class ProcessStartError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ProcessStarter {
 public:
  virtual ~ProcessStarter() = default;
  // Starts commandLine as a new hidden process in the current folder with the current
  // environment and returns at once. Throws ProcessStartError when no process can be started.
  virtual void Start(std::string_view commandLine) = 0;
};

}  // namespace launcher

namespace launcher {

// Passes on the first start only, so the game starts once per run whoever asks for it: the
// window's unload handler, or a last-resort start when no window could be made.
class StartOnce final : public ProcessStarter {
 public:
  explicit StartOnce(ProcessStarter& inner) : inner_(inner) {}
  void Start(std::string_view commandLine) override {
    if (started_) return;
    started_ = true;
    inner_.Start(commandLine);
  }
  [[nodiscard]] bool Started() const { return started_; }

 private:
  ProcessStarter& inner_;
  bool started_ = false;
};

// One line about an error, to wherever the platform reports errors. Reporting never fails.
class ErrorReporter {
 public:
  virtual ~ErrorReporter() = default;
  virtual void Report(std::string_view line) noexcept = 0;
};

// The launcher's outermost frame. Calls run with a starter that starts the game once per run, and
// returns its status. When run fails (no window could be made, or its event loop broke), the
// failure is reported in one line and the game starts anyway, unless run started it already: a
// broken opening must not keep the player from the game. The status is then 1.
int RunWithLastResortStart(ProcessStarter& starter, ErrorReporter& reporter,
                           const std::function<int(ProcessStarter& game)>& run);

}  // namespace launcher
