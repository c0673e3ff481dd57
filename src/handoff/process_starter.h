#pragma once
// Starts a process from a whole command line, hidden and never waited for.

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
  // Starts command_line as a new hidden process in the current folder with the current
  // environment and returns at once. Throws ProcessStartError when no process can be started.
  virtual void Start(std::string_view command_line) = 0;
};

// Passes on the first start only, so the game starts once per run whoever asks for it: the
// window's unload handler, or a last-resort start when no window could be made.
class StartOnce final : public ProcessStarter {
 public:
  explicit StartOnce(ProcessStarter& inner) : inner_(inner) {}
  void Start(std::string_view command_line) override {
    if (started_) return;
    started_ = true;
    inner_.Start(command_line);
  }
  [[nodiscard]] bool Started() const { return started_; }

 private:
  ProcessStarter& inner_;
  bool started_ = false;
};

}  // namespace launcher
