#include <gtest/gtest.h>

#include "linux/event_loop.h"

namespace launcher::sdl {
namespace {

class TimerPace : public ::testing::Test {
 protected:
  Uint64 now_ = 1000;
  SdlTimer timer_{[this] { return now_; }};
};

TEST_F(TimerPace, StoppedUntilAnIntervalIsSetAndAgainAtZero) {
  EXPECT_EQ(timer_.Remaining(now_), std::nullopt);
  timer_.SetInterval(50);
  EXPECT_EQ(timer_.Remaining(now_), 50u);
  timer_.SetInterval(0);
  EXPECT_EQ(timer_.Remaining(now_), std::nullopt);
  timer_.SetInterval(-5);
  EXPECT_EQ(timer_.Remaining(now_), std::nullopt);
}

TEST_F(TimerPace, TicksKeepTheirPaceWhenDeliveredLate) {
  timer_.SetInterval(50);
  now_ = 1053;  // delivered 3 ms late: the next is still due at 1100
  EXPECT_EQ(timer_.Remaining(now_), 0u);
  timer_.Fire(now_);
  EXPECT_EQ(timer_.Remaining(now_), 47u);
}

TEST_F(TimerPace, AHandlerThatHoldsTheThreadGetsOneTickAfterItNotABurst) {
  timer_.SetInterval(50);
  now_ = 1050;
  timer_.Fire(now_);
  now_ = 1330;  // the tick's handler slept through five intervals
  EXPECT_EQ(timer_.Remaining(now_), 0u);
  timer_.Fire(now_);  // one tick now, for all that were missed
  EXPECT_EQ(timer_.Remaining(now_), 50u);
}

TEST_F(TimerPace, SettingTheIntervalInsideATickRestartsTheCount) {
  timer_.SetInterval(50);
  now_ = 1050;
  timer_.Fire(now_);
  now_ = 1060;  // the tick stops the timer and starts it again, as starting the movie does
  timer_.SetInterval(0);
  timer_.SetInterval(50);
  EXPECT_EQ(timer_.Remaining(now_), 50u);
}

}  // namespace
}  // namespace launcher::sdl
