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

using orca_test::CaptureServer;

// Runs `body(thread_index)` on `count` threads at once.
template <typename Body>
void RunThreads(int count, Body body) {
  std::vector<std::thread> threads;
  threads.reserve(count);
  for (int t = 0; t < count; ++t) threads.emplace_back(body, t);
  for (std::thread& thread : threads) thread.join();
}

bool PutText(const CaptureServer& server, const std::string& text) {
  auto request = orca_test::MakeRequest("PUT", server.BaseUrl() + "/pool/" + text);
  request.SetData(text);
  const auto got = orca_test::Send(request);
  return got.ok && got.response.GetBody() == "ok";
}

TEST(HttpThreadsTest, ThreadsInTurnReuseOneConnection) {
  CaptureServer server;
  server.Start();
  server.SetDefaultReply({200, {}, "ok"});
  for (int i = 0; i < 5; ++i) {
    bool ok = false;
    std::thread([&] { ok = PutText(server, "turn" + std::to_string(i)); }).join();
    EXPECT_TRUE(ok) << i;
  }
  EXPECT_EQ(server.ConnectionCount(), 1);
}

TEST(HttpThreadsTest, ConcurrentThreadsNeverShareAConnection) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 25;
  CaptureServer server;
  server.Start();
  server.SetDefaultReply({200, {}, "ok"});
  std::atomic<int> failures{0};
  RunThreads(kThreads, [&](int t) {
    for (int i = 0; i < kPerThread; ++i) {
      failures += !PutText(server, "t" + std::to_string(t) + "-" + std::to_string(i));
    }
  });
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

// TLS sessions and DNS entries are shared between handles under locks.
TEST(HttpThreadsTest, ConcurrentTlsExchanges) {
  const orca_test::TestPki pki = orca_test::NewTestPki();
  orca_test::TlsServer server(pki, "127.0.0.1");
  orca_test::ScopedEnv bundle("ORCA_CS_CA_BUNDLE", pki.ca_cert.c_str());
  const std::string url = "https://localhost:" + std::to_string(server.port()) + "/pool/key";
  std::atomic<int> failures{0};
  RunThreads(4, [&](int /*thread*/) {
    for (int i = 0; i < 10; ++i) {
      const auto got = orca_test::Get(url);
      failures += !got.ok || got.response.GetBody() != "secure";
    }
  });
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
