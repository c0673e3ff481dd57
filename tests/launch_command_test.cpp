#include "handoff/launch_command.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_window.h"
#include "handoff/process_starter.h"

namespace launcher {
namespace {

using ::testing::ElementsAre;

TEST(LaunchCommand, IsTheFixedTextWithItsTrailingBlank) {
  EXPECT_EQ(kLaunchCommand.size(), 72U);
  EXPECT_EQ(kLaunchCommand,
            "cmd.exe /c ntleac Game.exe \"A-G 123 -B 456\" \"P0\" \"C932\" \"L1041\" \"T-540\" ");
  EXPECT_EQ(kLaunchCommand.back(), ' ');
}

TEST(LaunchCommand, SplitsIntoTheInterpreterTheToolAndSixArguments) {
  EXPECT_THAT(SplitCommandLine(kLaunchCommand),
              ElementsAre("cmd.exe", "/c", "ntleac", "Game.exe", "A-G 123 -B 456", "P0", "C932",
                          "L1041", "T-540"));
}

TEST(SplitCommandLine, FollowsTheWindowsRules) {
  // Blanks and tabs separate; runs of them count once.
  EXPECT_THAT(SplitCommandLine("a  b\t\tc "), ElementsAre("a", "b", "c"));
  // Quotes group and are removed, also in the middle of an argument.
  EXPECT_THAT(SplitCommandLine("p \"a b\" x\"y z\"w \"\""), ElementsAre("p", "a b", "xy zw", ""));
  // 2n backslashes before a quote: n backslashes, and the quote groups.
  EXPECT_THAT(SplitCommandLine(R"(p a\\"b c")"), ElementsAre("p", R"(a\b c)"));
  // 2n+1 backslashes before a quote: n backslashes and a literal quote.
  EXPECT_THAT(SplitCommandLine(R"(p a\"b a\\\"b)"), ElementsAre("p", "a\"b", R"(a\"b)"));
  // Backslashes not before a quote are literal.
  EXPECT_THAT(SplitCommandLine(R"(p C:\dir\ \\server\x\\)"),
              ElementsAre("p", R"(C:\dir\)", R"(\\server\x\\)"));
  // Inside quotes, "" is a literal quote that ends the quoted part; outside, """ is one.
  EXPECT_THAT(SplitCommandLine(R"(p "a""b c")"), ElementsAre("p", "a\"b", "c"));
  EXPECT_THAT(SplitCommandLine(R"(p """a b""" x""y)"), ElementsAre("p", "\"a", "b\"", "xy"));
  // An unclosed quote runs to the end.
  EXPECT_THAT(SplitCommandLine("p \"a b"), ElementsAre("p", "a b"));
}

TEST(SplitCommandLine, TakesTheProgramNameWithoutEscapes) {
  EXPECT_THAT(SplitCommandLine(R"("C:\Program Files\x.exe" a)"),
              ElementsAre(R"(C:\Program Files\x.exe)", "a"));
  EXPECT_THAT(SplitCommandLine(R"(C:\dir\\x.exe a)"), ElementsAre(R"(C:\dir\\x.exe)", "a"));
  EXPECT_THAT(SplitCommandLine(""), ElementsAre(""));
}

TEST(StartOnce, PassesOnTheFirstStartOnlyEvenWhenItFailed) {
  fakes::FakeStarter inner;
  inner.fail = true;
  StartOnce once(inner);
  EXPECT_THROW(once.Start(kLaunchCommand), ProcessStartError);
  EXPECT_TRUE(once.Started());
  once.Start(kLaunchCommand);
  EXPECT_EQ(inner.started.size(), 1U);
}

}  // namespace
}  // namespace launcher
