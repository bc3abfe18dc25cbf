// Several threads share the pooled connections, one handle per exchange.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "CaptureServer.h"
#include "NetTestUtil.h"

namespace {

TEST(HttpThreadsTest, ConcurrentThreadsNeverShareAConnection) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 25;
  orca_test::CaptureServer server;
  server.Start();
  server.SetDefaultReply({200, {}, "ok"});
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        const std::string text = "t" + std::to_string(t) + "-" + std::to_string(i);
        auto request = orca_test::MakeRequest("PUT", server.BaseUrl() + "/pool/" + text);
        request.SetData(text);
        const auto got = orca_test::Send(request);
        failures += !got.ok || got.response.GetBody() != "ok";
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  // Each body arrived once, intact, under its own name (no interleaving).
  std::set<std::string> bodies;
  for (const auto& request : server.Requests()) {
    EXPECT_EQ(request.target, "/pool/" + request.body);
    bodies.insert(request.body);
  }
  EXPECT_EQ(bodies.size(), static_cast<size_t>(kThreads * kPerThread));
  EXPECT_LE(server.ConnectionCount(), kThreads);
}

}  // namespace
