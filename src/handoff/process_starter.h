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
  // Starts commandLine as a new hidden process in the current folder with the current
  // environment and returns at once. Throws ProcessStartError when no process can be started.
  virtual void Start(std::string_view commandLine) = 0;
};

}  // namespace launcher
