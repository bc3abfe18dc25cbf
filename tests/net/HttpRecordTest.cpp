// Request records and the stall rules, without a network.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "net/HttpClient.h"
#include "net/StallWatch.h"

namespace {

using Orca::Net::CHttpClientRequest;
using Orca::Net::StallWatch;

TEST(HttpRequestTest, BodyIsMovedInAndFollowsCopiesAndMoves) {
  std::string big(32UL * 1024 * 1024, 'x');
  const auto original = reinterpret_cast<uintptr_t>(big.data());
  CHttpClientRequest request;
  request.SetData(std::move(big));  // not duplicated
  EXPECT_EQ(reinterpret_cast<uintptr_t>(request.GetData()), original);
  EXPECT_EQ(request.GetDataSize(), 32u * 1024 * 1024);

  request.SetData("short");  // kept inline by the string: moves change its address
  const CHttpClientRequest copy = request;
  const CHttpClientRequest moved = std::move(request);
  EXPECT_EQ(std::string(copy.GetData(), copy.GetDataSize()), "short");
  EXPECT_EQ(std::string(moved.GetData(), moved.GetDataSize()), "short");
}

const StallWatch::Clock::time_point kT0{};

StallWatch::Clock::time_point At(int ms) { return kT0 + std::chrono::milliseconds(ms); }

// Which time-out applies to which phase is tested against stalling servers
// (HttpTimeoutTest); these are the rules those cannot reach.
TEST(StallWatchTest, ProgressRestartsAnswersAndDefaults) {
  StallWatch unstarted(100, 100, 0);  // nothing is timed before the connection is ready
  EXPECT_FALSE(unstarted.Stalled(At(1000000)));

  StallWatch watch(1000, 1000, 0);
  watch.Start(kT0);
  watch.Observe(0, 10, At(500));
  watch.Observe(0, 10, At(1400));  // unchanged counters are no progress
  EXPECT_FALSE(watch.Stalled(At(1500)));
  EXPECT_TRUE(watch.Stalled(At(1501)));
  watch.MarkProgress(At(1501));
  EXPECT_FALSE(watch.Stalled(At(2501)));

  StallWatch resent(1000, 5000, 100);
  resent.Start(kT0);
  resent.Observe(100, 0, At(100));  // body sent: receive phase
  resent.Start(At(200));            // a resend on a fresh connection sends it again
  EXPECT_TRUE(resent.Stalled(At(1201)));

  StallWatch answered(500, 3000, 100);
  answered.Start(kT0);
  answered.Observe(50, 0, At(100));
  answered.MarkAnswerStarted();  // before the body was all sent: receive phase
  EXPECT_FALSE(answered.Stalled(At(3100)));

  for (int timeout : {0, -5}) {  // the default
    StallWatch defaulted(timeout, timeout, 0);
    defaulted.Start(kT0);
    EXPECT_FALSE(defaulted.Stalled(At(Orca::Net::kDefaultTimeoutMs))) << timeout;
    EXPECT_TRUE(defaulted.Stalled(At(Orca::Net::kDefaultTimeoutMs + 1))) << timeout;
  }
}

}  // namespace
