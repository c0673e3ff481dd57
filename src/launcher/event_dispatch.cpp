#include "launcher/event_dispatch.h"

#include <string>

#include "handoff/launch_command.h"

namespace launcher {

void ReportError(ErrorReporter& reporter, std::string_view event,
                 const std::exception_ptr& error) noexcept {
  try {
    std::string line = "launcher: ";
    if (!event.empty()) {
      line += "unhandled error in ";
      line += event;
      line += ": ";
    }
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      line += e.what();
    } catch (...) {
      line += "unknown error";
    }
    reporter.Report(line);
  } catch (...) {
    reporter.Report("launcher: error");  // no memory even for the line
  }
}

int RunWithLastResortStart(ProcessStarter& starter, ErrorReporter& reporter,
                           const std::function<int(ProcessStarter& game)>& run) {
  StartOnce game(starter);
  try {
    return run(game);
  } catch (...) {
    ReportError(reporter, "", std::current_exception());
  }
  try {
    game.Start(kLaunchCommand);
  } catch (...) {
    ReportError(reporter, "", std::current_exception());
  }
  return 1;
}

template <typename Handler>
void EventDispatcher::Deliver(std::string_view event, Handler&& handler) {
  try {
    handler();
    return;
  } catch (...) {
    failed_ = true;
    ReportError(reporter_, event, std::current_exception());
  }
  try {
    window_.Unload();
  } catch (...) {
    ReportError(reporter_, "unload", std::current_exception());
  }
}

void EventDispatcher::Load() {
  Deliver("load", [this] { window_.Load(); });
}

void EventDispatcher::Tick() {
  Deliver("tick", [this] { window_.Tick(); });
}

void EventDispatcher::Command(std::string_view command, std::string_view args) {
  Deliver("FSCommand", [&] { window_.FSCommand(command, args); });
}

void EventDispatcher::CloseRequest() {
  Deliver("unload", [this] { window_.Unload(); });
}

}  // namespace launcher
