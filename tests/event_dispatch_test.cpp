#include "launcher/event_dispatch.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "fakes/fake_window.h"
#include "handoff/launch_command.h"

namespace launcher {
namespace {

TEST(RunWithLastResortStart, StartsTheGameOnceWhateverTheRunDid) {
  struct Case {
    const char* name;
    bool starts_game;
    bool throws;
    bool start_fails;
    int status;
    std::vector<std::string> reported;
  };
  const Case cases[] = {
      {"ends without a start", false, false, false, 0, {}},
      {"starts the game and ends", true, false, false, 0, {}},
      {"fails before a window", false, true, false, 1, {"launcher: no window"}},
      {"fails after its own start", true, true, false, 1, {"launcher: no window"}},
      {"fails and no game starts",
       false,
       true,
       true,
       1,
       {"launcher: no window", "launcher: no process"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fakes::FakeStarter starter;
    starter.fail = c.start_fails;
    fakes::RecordingReporter reporter;
    const int status = RunWithLastResortStart(starter, reporter, [&c](ProcessStarter& game) {
      if (c.starts_game) game.Start(kLaunchCommand);
      if (c.throws) throw std::runtime_error("no window");
      return 0;
    });
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(reporter.lines, c.reported);
    const std::size_t starts = c.starts_game || c.throws ? 1 : 0;
    EXPECT_EQ(starter.started, std::vector<std::string>(starts, std::string(kLaunchCommand)));
  }
}

}  // namespace
}  // namespace launcher
