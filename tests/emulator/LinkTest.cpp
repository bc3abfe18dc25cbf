// Link emulation seen from a client: the delay of each round trip and of the
// handshakes, one rate shared by every connection, changes through the admin
// API, and connection ends carried through the relay in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "RawClient.h"

namespace orca_test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kLatency{50};
constexpr milliseconds kRoundTrip = 2 * kLatency;
const std::vector<std::string> kSlowLink = {"--latency-ms", std::to_string(kLatency.count())};

Clock::duration TimeOf(const std::function<void()>& action) {
  const Clock::time_point start = Clock::now();
  action();
  return Clock::now() - start;
}

int StatusOf(const httplib::Result& result) { return result ? result->status : -1; }

// The time of a 1-byte download on a fresh connection (handshakes
// included) and of the next one on the same kept-alive connection, the
// least of a few tries.
struct OneByteTimes {
  Clock::duration fresh = Clock::duration::max();
  Clock::duration reused = Clock::duration::max();
};

OneByteTimes TimeOneByteDownloads(const Emulator& emulator) {
  const RawRequest get{"GET", "/pool1/" + GeneratedKey(1, 1)};
  OneByteTimes times;
  for (int i = 0; i < 3; ++i) {
    RawClient client(emulator, emulator.endpoints().download);
    times.fresh =
        std::min(times.fresh, TimeOf([&] { EXPECT_EQ(StatusOf(client.Send(get)), 200); }));
    times.reused =
        std::min(times.reused, TimeOf([&] { EXPECT_EQ(StatusOf(client.Send(get)), 200); }));
  }
  return times;
}

TEST(LinkTest, EachRoundTripAndHandshakeTakesTwiceTheLatency) {
  for (const bool https : {false, true}) {
    SCOPED_TRACE(https ? "https" : "http");
    Emulator direct(Options(https));
    Emulator linked(WithLink(Options(https), kSlowLink));
    const OneByteTimes base = TimeOneByteDownloads(direct);
    const OneByteTimes slow = TimeOneByteDownloads(linked);
    const int handshakes = https ? 2 : 1;  // TCP, then TLS
    EXPECT_GE(slow.fresh, base.fresh + kRoundTrip) << "at least one round trip more than direct";
    EXPECT_GE(slow.fresh, (handshakes + 1) * kRoundTrip) << "each handshake, then the request";
    EXPECT_GE(slow.reused, kRoundTrip) << "a kept-alive connection still waits a round trip";
  }
}

TEST(LinkTest, OneRatePerDirectionIsSharedByEveryConnectionAndPort) {
  Emulator emulator(
      WithLink(Options(/*https=*/false, /*no_auth=*/true), {"--bandwidth-mbit", "100"}));
  const auto& ports = emulator.endpoints();
  const auto download = [&emulator](int port, uint64_t size) {
    const auto result = RawClient(emulator, port).Send({"GET", "/pool1/" + GeneratedKey(size, 3)});
    EXPECT_TRUE(result && result->body.size() == size);
  };
  const std::string upload_body(16 << 20, 'u');
  struct Case {
    const char* name;
    std::function<void()> transfer;  // 16 MiB in all
  };
  const Case cases[] = {
      {"one download", [&] { download(ports.download, 16 << 20); }},
      {"two downloads on two ports at once",
       [&] {
         std::thread other([&] { download(ports.nodes[0], 8 << 20); });
         download(ports.download, 8 << 20);
         other.join();
       }},
      {"one upload",
       [&] {
         RawRequest put{"PUT", "/pool1/up", upload_body, "binary/octet-stream"};
         put.content_md5 = false;
         EXPECT_EQ(StatusOf(RawClient(emulator, ports.nodes[0]).Send(put)), 200);
       }},
  };
  // 16 MiB = 134 Mbit: 1.34 s at 100 Mbit/s, however the connections share it.
  for (const Case& c : cases) {
    EXPECT_GE(TimeOf(c.transfer), milliseconds(1300)) << c.name;
  }
}

TEST(LinkTest, TheAdminApiChangesTheLinkOfOpenConnections) {
  Emulator emulator(WithLink(Options(/*https=*/false), {"--latency-ms", "0"}));
  std::string body;
  EXPECT_EQ(emulator.Admin("GET", "/link", "", &body), 200);
  EXPECT_EQ(body, R"({"latency_ms":0,"bandwidth_mbit":0})");
  RawClient client(emulator, emulator.endpoints().download);
  const RawRequest get{"GET", "/pool1/" + GeneratedKey(1 << 20, 5)};
  ASSERT_EQ(StatusOf(client.Send(get)), 200);  // the connection is open

  EXPECT_EQ(emulator.Admin("PUT", "/link", R"({"latency_ms":50})", &body), 200);
  EXPECT_EQ(body, R"({"latency_ms":50,"bandwidth_mbit":0})");
  EXPECT_GE(TimeOf([&] { client.Send(get); }), kRoundTrip);
  EXPECT_EQ(emulator.Admin("PUT", "/link", R"({"latency_ms":0,"bandwidth_mbit":20})", &body), 200);
  EXPECT_EQ(body, R"({"latency_ms":0,"bandwidth_mbit":20})");
  EXPECT_GE(TimeOf([&] { client.Send(get); }), milliseconds(400)) << "1 MiB at 20 Mbit/s: 0.42 s";

  for (const char* bad :
       {"", "[]", R"({"latency_ms":-1})", R"({"latency_ms":1.5})", R"({"bandwidth_mbit":"fast"})",
        R"({"latency_ms":10001})", R"({"bandwidth_mbit":1000001})"}) {
    EXPECT_EQ(emulator.Admin("PUT", "/link", bad, &body), 400) << bad;
  }
  EXPECT_EQ(emulator.Admin("GET", "/link", "", &body), 200);
  EXPECT_EQ(body, R"({"latency_ms":0,"bandwidth_mbit":20})") << "bad documents change nothing";
}

TEST(LinkTest, TheAdminApiRefusesTheLinkWithoutLinkEmulation) {
  Emulator emulator;
  for (const char* method : {"GET", "PUT"}) {
    std::string body;
    EXPECT_EQ(emulator.Admin(method, "/link", R"({"latency_ms":50})", &body), 409) << method;
    EXPECT_NE(body.find("--latency-ms"), std::string::npos) << body;
  }
}

TEST(LinkTest, EndsPassThroughInOrderAndEachConnectionCountsOnce) {
  Emulator emulator(WithLink(Options(/*https=*/false, /*no_auth=*/true), {"--latency-ms", "20"}));
  const std::string object = GeneratedBytes(9, 0, 1000);
  ASSERT_EQ(StatusOf(ObjectSession(emulator).Put("obj", object)), 200);
  const std::string get = "GET /pool1/obj HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
  struct Case {
    const char* name;
    const char* fault;  // "": none
    int status;         // 0: no answer
    std::string body;
    int error;  // of the client's last read: ECONNRESET for a reset
  };
  const Case cases[] = {
      {"the service closes", "", 200, object, 0},
      {"a reset before the answer", "reset", 0, "", ECONNRESET},
      {"a reset after half the body", "reset_mid_body", 200, object.substr(0, 500), ECONNRESET},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (*c.fault != '\0') {
      EmulatorFault fault;
      fault.kind = c.fault;
      emulator.AddFault(fault);
    }
    const WireAnswer answer = ExchangeOnWire(emulator.endpoints().download, get);
    EXPECT_EQ(answer.status(), c.status);
    EXPECT_EQ(answer.body, c.body) << "every byte sent before the end arrives";
    EXPECT_EQ(answer.error, c.error);
  }
  ObjectSession session(emulator);
  EXPECT_EQ(StatusOf(session.Get("obj")), 200);
  EXPECT_EQ(StatusOf(session.Get("obj")), 200);  // on the same connection
  EXPECT_EQ(emulator.Connections().download, std::size(cases) + 1);
}

}  // namespace
}  // namespace orca_test
