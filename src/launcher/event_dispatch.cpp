#include "launcher/event_dispatch.h"

#include <exception>
#include <string>

namespace launcher {
namespace {

std::string Describe(std::string_view event, std::exception_ptr error) {
  std::string line = "launcher: unhandled error in ";
  line += event;
  line += ": ";
  try {
    std::rethrow_exception(std::move(error));
  } catch (const std::exception& e) {
    line += e.what();
  } catch (...) {
    line += "unknown error";
  }
  return line;
}

}  // namespace

template <typename Handler>
void EventDispatcher::Deliver(std::string_view event, Handler&& handler) {
  try {
    handler();
    return;
  } catch (...) {
    failed_ = true;
    reporter_.Report(Describe(event, std::current_exception()));
  }
  try {
    window_.Unload();
  } catch (...) {
    reporter_.Report(Describe("unload", std::current_exception()));
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
