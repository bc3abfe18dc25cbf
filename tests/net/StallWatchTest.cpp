// The stall rules on a simulated clock.
#include <gtest/gtest.h>

#include "net/HttpClient.h"
#include "net/StallWatch.h"

namespace {

using Orca::Net::StallWatch;
using std::chrono::milliseconds;

const StallWatch::Clock::time_point kT0{};

StallWatch::Clock::time_point At(int ms) { return kT0 + milliseconds(ms); }

TEST(StallWatchTest, NothingIsTimedBeforeTheConnectionIsReady) {
  StallWatch watch(100, 100, 0);
  EXPECT_FALSE(watch.Stalled(At(1000000)));
}

TEST(StallWatchTest, PhaseDecidesWhichTimeOutApplies) {
  // send time-out 500 ms, receive time-out 3000 ms, 100 body bytes
  const struct {
    const char* name;
    uint64_t uploaded;  // at 100 ms
    int quiet_until;    // ms
    bool answer_started;
    bool stalled;
  } cases[] = {
      {"body still going out, within send time-out", 50, 600, false, false},
      {"body still going out, past send time-out", 50, 601, false, true},
      {"body sent, waiting within receive time-out", 100, 3100, false, false},
      {"body sent, waiting past receive time-out", 100, 3101, false, true},
      {"answer started before the body was all sent", 50, 3100, true, false},
  };
  for (const auto& c : cases) {
    StallWatch watch(500, 3000, 100);
    watch.Start(kT0);
    watch.Observe(c.uploaded, 0, At(100));
    if (c.answer_started) {
      watch.MarkAnswerStarted();
    }
    EXPECT_EQ(watch.Stalled(At(c.quiet_until)), c.stalled) << c.name;
  }
}

TEST(StallWatchTest, OnlyChangedCountersCountAsProgress) {
  StallWatch watch(1000, 1000, 0);
  watch.Start(kT0);
  watch.Observe(0, 10, At(500));
  watch.Observe(0, 10, At(1400));  // no change
  EXPECT_FALSE(watch.Stalled(At(1500)));
  EXPECT_TRUE(watch.Stalled(At(1501)));
  watch.MarkProgress(At(1501));
  EXPECT_FALSE(watch.Stalled(At(2501)));
}

TEST(StallWatchTest, RestartForgetsEarlierProgressAndPhase) {
  StallWatch watch(1000, 5000, 100);
  watch.Start(kT0);
  watch.Observe(100, 0, At(100));  // body sent: receive phase
  watch.Start(At(200));            // a retry on a fresh connection sends it again
  EXPECT_TRUE(watch.Stalled(At(1201)));
}

TEST(StallWatchTest, NonPositiveTimeOutsMeanTheDefault) {
  for (int timeout : {0, -5}) {
    StallWatch watch(timeout, timeout, 0);
    watch.Start(kT0);
    EXPECT_FALSE(watch.Stalled(At(Orca::Net::kDefaultTimeoutMs))) << timeout;
    EXPECT_TRUE(watch.Stalled(At(Orca::Net::kDefaultTimeoutMs + 1))) << timeout;
  }
}

}  // namespace
