// Fault injection as seen on the wire, the journal, connection counts and
// redirect modes.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

#include "RawClient.h"
#include "RawSocket.h"

namespace orca_test {
namespace {

constexpr size_t kObjectSize = 1000;

EmulatorOptions NoAuth() {
  EmulatorOptions options;
  options.no_auth = true;
  return options;
}

// Decodes a chunked body; "" when it is not well formed.
std::string Dechunk(const std::string& wire) {
  std::string body;
  size_t at = 0;
  for (;;) {
    const size_t line_end = wire.find("\r\n", at);
    if (line_end == std::string::npos) {
      return "";
    }
    const size_t size = std::stoul(wire.substr(at, line_end - at), nullptr, 16);
    if (size == 0) {
      return body;
    }
    body += wire.substr(line_end + 2, size);
    at = line_end + 2 + size + 2;
  }
}

class FaultTest : public ::testing::Test {
 protected:
  FaultTest() : emulator_(NoAuth()), object_(GeneratedBytes(8, 0, kObjectSize)) {
    RawRequest put;
    put.method = "PUT";
    put.target = "/pool1/obj";
    put.body = object_;
    put.sign = false;
    RawClient node(emulator_, emulator_.endpoints().nodes[0]);
    EXPECT_EQ(node.Send(put)->status, 200);
  }

  WireAnswer Fetch(int port, const std::string& target) {
    return ExchangeOnWire(
        port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
  }

  int download() const { return emulator_.endpoints().download; }

  Emulator emulator_;
  const std::string object_;
};

TEST_F(FaultTest, EachKindMisbehavesAsDocumented) {
  const std::string node = std::to_string(emulator_.endpoints().nodes[0]);
  const std::string self = std::to_string(download());
  struct Case {
    std::string name;
    EmulatorFault fault;
    std::string query;
    std::function<void(const WireAnswer&)> check;
    bool upload_port;  // the best-node query instead of the object download
    bool redirect;     // with redirects on
  };
  const auto fault = [](const char* kind) {
    EmulatorFault f;
    f.kind = kind;
    f.method = "GET";
    return f;
  };
  const auto with = [](EmulatorFault f, const std::function<void(EmulatorFault&)>& change) {
    change(f);
    return f;
  };
  const Case cases[] = {
      {"status",
       with(fault("status"),
            [](EmulatorFault& f) {
              f.status = 503;
              f.body = "oops";
            }),
       "",
       [](const WireAnswer& a) {
         EXPECT_EQ(a.status(), 503);
         EXPECT_EQ(a.body, "oops");
       },
       false, false},
      {"not_enough_space", fault("not_enough_space"), "",
       [](const WireAnswer& a) {
         EXPECT_EQ(a.status(), 500);
         EXPECT_NE(a.body.find("NotEnoughSpace"), std::string::npos);
       },
       false, false},
      {"huge_body", with(fault("huge_body"), [](EmulatorFault& f) { f.size = 3 << 20; }), "",
       [](const WireAnswer& a) {
         EXPECT_EQ(a.status(), 500);
         EXPECT_EQ(a.Header("Content-Length"), std::to_string(3 << 20));
         EXPECT_EQ(a.body.size(), size_t{3} << 20);
       },
       false, false},
      {"reset", fault("reset"), "",
       [](const WireAnswer& a) {
         EXPECT_EQ(a.error, ECONNRESET);
         EXPECT_EQ(a.head, "");
       },
       false, false},
      {"bad_location scheme", fault("bad_location"), "",
       [&](const WireAnswer& a) {
         EXPECT_EQ(a.status(), 302);
         EXPECT_EQ(a.Header("Location"), "https://127.0.0.1:" + node + "/pool1/obj");
       },
       false, false},
      {"bad_location nopath",
       with(fault("bad_location"), [](EmulatorFault& f) { f.variant = "nopath"; }), "",
       [&](const WireAnswer& a) { EXPECT_EQ(a.Header("Location"), "http://127.0.0.1:" + node); },
       false, false},
      {"loop_location", fault("loop_location"), "",
       [&](const WireAnswer& a) {
         EXPECT_EQ(a.status(), 302);
         EXPECT_EQ(a.Header("Location"), "http://127.0.0.1:" + self + "/pool1/obj");
       },
       false, false},
      {"delay", with(fault("delay"), [](EmulatorFault& f) { f.delay_ms = 50; }), "",
       [&](const WireAnswer& a) { EXPECT_EQ(a.body, object_); }, false, false},
      {"stall", with(fault("stall"), [](EmulatorFault& f) { f.delay_ms = 50; }), "",
       [&](const WireAnswer& a) {
         EXPECT_EQ(a.status(), 200);
         EXPECT_EQ(a.body, object_);
       },
       false, false},
      {"reset_mid_body", fault("reset_mid_body"), "",
       [&](const WireAnswer& a) {
         EXPECT_EQ(a.status(), 200);
         EXPECT_EQ(a.Header("Content-Length"), std::to_string(kObjectSize));
         EXPECT_LT(a.body.size(), kObjectSize);
         EXPECT_EQ(a.error, ECONNRESET);
       },
       false, false},
      {"short_body", fault("short_body"), "",
       [&](const WireAnswer& a) {
         EXPECT_EQ(a.Header("Content-Length"), std::to_string(kObjectSize));
         EXPECT_EQ(a.body, object_.substr(0, kObjectSize / 2));
         EXPECT_EQ(a.error, 0);
       },
       false, false},
      {"chunked", fault("chunked"), "",
       [&](const WireAnswer& a) {
         bool has_length = true;
         a.Header("Content-Length", &has_length);
         EXPECT_FALSE(has_length);
         EXPECT_EQ(a.Header("Transfer-Encoding"), "chunked");
         EXPECT_EQ(Dechunk(a.body), object_);
       },
       false, false},
      {"malformed", fault("malformed"), "?bestnode",
       [](const WireAnswer& a) {
         EXPECT_EQ(a.status(), 200);
         EXPECT_EQ(a.body.find("</BestNodeInfo>"), std::string::npos) << a.body;
       },
       true, false},
      {"empty", fault("empty"), "",
       [](const WireAnswer& a) {
         EXPECT_EQ(a.status(), 200);
         EXPECT_EQ(a.Header("Content-Length"), "0");
         EXPECT_EQ(a.body, "");
       },
       false, false},
      {"missing Object-Size",
       with(fault("missing_header"), [](EmulatorFault& f) { f.header = "Object-Size"; }),
       "?metadata",
       [](const WireAnswer& a) {
         bool found = true;
         a.Header("Object-Size", &found);
         EXPECT_EQ(a.status(), 200);
         EXPECT_FALSE(found);
       },
       false, false},
      {"missing Content-Length",
       with(fault("missing_header"), [](EmulatorFault& f) { f.header = "Content-Length"; }), "",
       [&](const WireAnswer& a) {
         bool found = true;
         a.Header("Content-Length", &found);
         EXPECT_FALSE(found);
         EXPECT_EQ(a.Header("Transfer-Encoding"), "");
         EXPECT_EQ(a.body, object_);
         EXPECT_EQ(a.error, 0);
       },
       false, false},
      {"missing Location",
       with(fault("missing_header"), [](EmulatorFault& f) { f.header = "Location"; }), "",
       [](const WireAnswer& a) {
         bool found = true;
         a.Header("Location", &found);
         EXPECT_EQ(a.status(), 302);
         EXPECT_FALSE(found);
       },
       false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    emulator_.ClearJournal();
    emulator_.SetRedirect(c.redirect ? "always" : "off");
    emulator_.AddFault(c.fault);
    const int port = c.upload_port ? emulator_.endpoints().upload : download();
    c.check(Fetch(port, "/pool1/obj" + c.query));
    const auto journal = emulator_.Journal();
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].fault, c.fault.kind);
    // The next request is served normally again.
    EXPECT_EQ(Fetch(download(), "/pool1/obj").body, c.redirect ? "" : object_);
  }
}

TEST_F(FaultTest, RulesMatchRoleMethodPathAndCount) {
  EmulatorFault fault;
  fault.kind = "status";
  fault.status = 500;
  fault.role = "download";
  fault.method = "GET";
  fault.path = "/pool1/ob*";
  fault.count = 2;
  emulator_.AddFault(fault);
  EXPECT_EQ(Fetch(emulator_.endpoints().nodes[0], "/pool1/obj").status(), 200) << "other role";
  EXPECT_EQ(Fetch(download(), "/pool1/" + GeneratedKey(5, 1)).status(), 200) << "other path";
  EXPECT_EQ(Fetch(download(), "/pool1/obj").status(), 500);
  EXPECT_EQ(Fetch(download(), "/pool1/obj?metadata").status(), 500) << "the glob spans the query";
  EXPECT_EQ(Fetch(download(), "/pool1/obj").status(), 200) << "count used up";
}

TEST_F(FaultTest, RandomFaultsReplayWithTheirSeed) {
  const auto run = [&](uint64_t seed) {
    emulator_.ClearFaults();
    EmulatorFault filter;
    filter.role = "download";
    filter.status = 503;
    emulator_.SetRandomFaults(seed, 0.5, {"status", "empty"}, filter);
    std::string outcomes;
    for (int i = 0; i < 40; ++i) {
      const WireAnswer answer = Fetch(download(), "/pool1/obj");
      outcomes += answer.status() == 503 ? 's' : answer.body.empty() ? 'e' : '.';
    }
    return outcomes;
  };
  const std::string first = run(7);
  EXPECT_EQ(run(7), first);
  EXPECT_NE(run(8), first);
  EXPECT_NE(first.find('s'), std::string::npos);
  EXPECT_NE(first.find('e'), std::string::npos);
  EXPECT_NE(first.find('.'), std::string::npos);
}

TEST_F(FaultTest, RedirectModesChooseWhichDownloadsMove) {
  emulator_.SetRedirect("every:3");
  std::string statuses;
  for (int i = 0; i < 6; ++i) {
    statuses += std::to_string(Fetch(download(), "/pool1/obj").status()) + " ";
  }
  EXPECT_EQ(statuses, "200 200 302 200 200 302 ");
  EXPECT_EQ(Fetch(download(), "/pool1/obj?metadata").status(), 200) << "metadata never moves";
  emulator_.SetRedirect("off");
  EXPECT_EQ(Fetch(download(), "/pool1/obj").status(), 200);
}

TEST_F(FaultTest, CountsAcceptedConnections) {
  const uint64_t before = emulator_.Connections().download;
  {
    httplib::Client keep_alive("127.0.0.1", download());
    keep_alive.set_keep_alive(true);
    for (int i = 0; i < 5; ++i) {
      ASSERT_EQ(keep_alive.Get("/pool1/obj")->status, 200);
    }
  }
  EXPECT_EQ(emulator_.Connections().download, before + 1);
  for (int i = 0; i < 3; ++i) {
    Fetch(download(), "/pool1/obj");
  }
  const EmulatorConnections after = emulator_.Connections();
  EXPECT_EQ(after.download, before + 4);
  EXPECT_EQ(after.nodes.size(), 2u);
}

TEST(JournalTest, RecordsWhatWasReceived) {
  Emulator emulator;
  ObjectSession session(emulator);
  ASSERT_EQ(session.Put("j.bin", "journal body")->status, 200);
  ASSERT_EQ(session.Get("missing")->status, 404);
  const auto journal = emulator.Journal();
  ASSERT_EQ(journal.size(), 2u);
  const EmulatorRequest& put = journal[0];
  EXPECT_EQ(put.role, "node");
  EXPECT_EQ(put.port, emulator.endpoints().nodes[0]);
  EXPECT_EQ(put.method, "PUT");
  EXPECT_EQ(put.path, "/pool1/j.bin");
  EXPECT_EQ(put.query, "");
  EXPECT_EQ(put.body_length, 12u);
  EXPECT_EQ(put.body_md5, Md5HexOf("journal body"));
  EXPECT_EQ(put.Header("content-md5"), ProtocolContentMd5("journal body"));
  EXPECT_EQ(put.Header("Authorization").rfind("quarnbox ocs-test-ak1:", 0), 0u);
  EXPECT_EQ(put.status, 200);
  EXPECT_EQ(journal[1].status, 404);
  EXPECT_LT(put.seq, journal[1].seq);
  emulator.ClearJournal();
  EXPECT_TRUE(emulator.Journal().empty());
}

TEST(EmulatorProcessTest, StopsCleanlyOnSigterm) {
  Emulator emulator;
  httplib::Client idle("127.0.0.1", emulator.endpoints().download);
  idle.set_keep_alive(true);
  ASSERT_TRUE(idle.Get("/pool1/x"));  // leaves an idle keep-alive connection open
  EXPECT_EQ(emulator.Stop(), 0);
  EXPECT_FALSE(emulator.running());
}

}  // namespace
}  // namespace orca_test
