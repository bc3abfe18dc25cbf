// Faults as seen on the wire: each kind the emulator injects, random faults
// replayed by their seed, and an upload the client abandons; served directly
// and through an emulated link, whose relay must pass resets, early ends and
// stalls on as they are.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <optional>
#include <set>
#include <thread>

#include "RawClient.h"

namespace orca_test {
namespace {

class FaultTest : public ::testing::TestWithParam<bool> {
 protected:
  FaultTest() { EXPECT_EQ(ObjectSession(emulator_).Put("obj", object_)->status, 200); }

  // Nothing is checked, so that bare requests are served.
  static EmulatorOptions Setup(bool linked) {
    const EmulatorOptions options = Options(/*https=*/false, /*no_auth=*/true);
    return linked ? WithLink(options, kShortLink) : options;
  }

  WireAnswer Fetch() {
    return ExchangeOnWire(emulator_.endpoints().download,
                          "GET /pool1/obj HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  }

  Emulator emulator_{Setup(GetParam())};
  const std::string object_ = GeneratedBytes(8, 0, 1000);
};

TEST_P(FaultTest, EachKindMisbehavesAsDocumented) {
  const std::string node = "127.0.0.1:" + std::to_string(emulator_.endpoints().nodes[0]);
  const std::string self = "127.0.0.1:" + std::to_string(emulator_.endpoints().download);
  const auto kLength = "Content-Length";
  struct Case {
    const char* kind;
    int status;  // 0: no answer at all
    int error;   // of the read: ECONNRESET for a reset, 0 at a clean end
    const char* header;
    std::string value;                // of `header`; "": absent
    std::optional<std::string> body;  // nullopt: not checked
  };
  const Case cases[] = {
      {"status", 503, 0, kLength, "4", "oops"},
      {"not_enough_space", 500, 0, "Content-Type", "application/xml", std::nullopt},
      {"huge_body", 503, 0, kLength, "3145728", std::nullopt},
      {"reset", 0, ECONNRESET, kLength, "", ""},
      {"bad_location", 302, 0, "Location", "https://" + node + "/pool1/obj", ""},
      {"loop_location", 302, 0, "Location", "http://" + self + "/pool1/obj", ""},
      {"delay", 200, 0, kLength, "1000", object_},
      {"stall", 200, 0, kLength, "1000", object_},
      {"reset_mid_body", 200, ECONNRESET, kLength, "1000", std::nullopt},
      {"short_body", 200, 0, kLength, "1000", object_.substr(0, 500)},
      {"chunked", 200, 0, "Transfer-Encoding", "chunked", std::nullopt},
      {"malformed", 200, 0, "Transfer-Encoding", "",
       R"(<?xml version="1.0" encoding="UTF-8"?><BestNodeInfo><Loc)"},
      {"empty", 200, 0, kLength, "0", ""},
      {"missing_header", 200, 0, kLength, "", object_},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    // Each kind takes the parameters it uses: status 503, body, delay, header, size.
    emulator_.AddFault({c.kind, "", "", "*", 1, 503, "oops", 50, kLength, "", 3 << 20, ""});
    const WireAnswer answer = Fetch();
    EXPECT_EQ(answer.status(), c.status);
    EXPECT_EQ(answer.Header(c.header), c.value) << c.header;
    EXPECT_TRUE(!c.body || answer.body == *c.body) << answer.body.size() << " bytes";
    EXPECT_EQ(answer.error, c.error);
    EXPECT_EQ(Fetch().body, object_) << "the next request is served normally";
  }
}

TEST_P(FaultTest, RandomFaultsReplayWithTheirSeed) {
  const auto run = [&](uint64_t seed) {
    EmulatorFault filter;
    filter.role = "download";
    filter.status = 503;
    emulator_.SetRandomFaults(seed, 0.5, {"status", "empty"}, filter);
    std::string outcomes;
    for (int i = 0; i < 40; ++i) {
      const WireAnswer answer = Fetch();
      outcomes += answer.status() == 503 ? 's' : answer.body.empty() ? 'e' : '.';
    }
    return outcomes;
  };
  const std::string first = run(7);
  EXPECT_EQ(run(7), first);
  EXPECT_NE(run(8), first);
  EXPECT_EQ(std::set<char>(first.begin(), first.end()).size(), 3u) << first;
}

TEST_P(FaultTest, AnAbandonedUploadLeavesNothing) {
  ExchangeOnWire(
      emulator_.endpoints().nodes[0],
      "PUT /pool1/cut HTTP/1.1\r\nContent-Length: 1048576\r\n\r\n" + std::string(70000, 'x'), true);
  // Wait (bounded) until the emulator has given up on the body.
  for (int i = 0; i < 500 && emulator_.Journal().size() < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const auto journal = emulator_.Journal();
  ASSERT_EQ(journal.size(), 2u);
  EXPECT_EQ(journal[1].status, 400);
  EXPECT_EQ(emulator_.Objects("pool1").size(), 1u) << "only the object put at the start";
  EXPECT_TRUE(std::filesystem::is_empty(emulator_.data_dir() + "/tmp"));
}

INSTANTIATE_TEST_SUITE_P(Link, FaultTest, ::testing::Bool(), LinkCaseName);

}  // namespace
}  // namespace orca_test
