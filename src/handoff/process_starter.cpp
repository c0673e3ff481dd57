#include "handoff/process_starter.h"

#include <exception>
#include <string>

#include "handoff/launch_command.h"

namespace launcher {
namespace {

void ReportCurrentError(ErrorReporter& reporter) noexcept {
  try {
    throw;
  } catch (const std::exception& error) {
    try {
      reporter.Report(std::string("launcher: ") + error.what());
    } catch (...) {
      reporter.Report("launcher: error");  // no memory even for the line
    }
  } catch (...) {
    reporter.Report("launcher: unknown error");
  }
}

}  // namespace

int RunWithLastResortStart(ProcessStarter& starter, ErrorReporter& reporter,
                           const std::function<int(ProcessStarter& game)>& run) {
  StartOnce game(starter);
  try {
    return run(game);
  } catch (...) {
    ReportCurrentError(reporter);
  }
  try {
    game.Start(kLaunchCommand);
  } catch (...) {
    ReportCurrentError(reporter);
  }
  return 1;
}

}  // namespace launcher
