#include <gtest/gtest.h>

#include <string>

#include "LogCapture.h"
#include "OrcaCloudStorage/StorageClient.h"
#include "StorageClient/Logging.h"
#include "StorageClient/ObjectImpl.h"

namespace Orca {
namespace CloudStorage {

namespace {

SStorageServerConfig ValidConfig() {
  SStorageServerConfig config;
  config.ip = "10.0.0.1";
  config.upload_port = 6001;
  config.download_port = 6002;
  config.pool_name = "p1";
  config.ak = "AKID";
  config.sk = "TOPSECRETKEY";
  return config;
}

struct InitCase {
  const char* name;
  void (*mutate)(SStorageServerConfig&);
  bool ok;
  const char* message;
};

TEST(ObjectClientInitTest, ChecksInOrder) {
  const InitCase cases[] = {
      {"valid", [](SStorageServerConfig&) {}, true, ""},
      {"default config", [](SStorageServerConfig& c) { c = SStorageServerConfig(); }, false,
       "ak/sk empty or ip & pool name empty."},
      {"no ak", [](SStorageServerConfig& c) { c.ak.clear(); }, false,
       "ak/sk empty or ip & pool name empty."},
      {"no sk", [](SStorageServerConfig& c) { c.sk.clear(); }, false,
       "ak/sk empty or ip & pool name empty."},
      {"no ip", [](SStorageServerConfig& c) { c.ip.clear(); }, false,
       "ak/sk empty or ip & pool name empty."},
      {"no pool", [](SStorageServerConfig& c) { c.pool_name.clear(); }, false,
       "ak/sk empty or ip & pool name empty."},
      {"strings before ports",
       [](SStorageServerConfig& c) {
         c.pool_name.clear();
         c.upload_port = 0;
       },
       false, "ak/sk empty or ip & pool name empty."},
      {"upload port 0", [](SStorageServerConfig& c) { c.upload_port = 0; }, false,
       "upload port or download port is 0."},
      {"download port 0", [](SStorageServerConfig& c) { c.download_port = 0; }, false,
       "upload port or download port is 0."},
  };
  for (const InitCase& c : cases) {
    SCOPED_TRACE(c.name);
    SStorageServerConfig config = ValidConfig();
    c.mutate(config);
    CObjectClient client(config);
    EXPECT_EQ(client.Init(), c.ok);
    int32_t code = -1;
    std::string msg;
    client.GetLastError(code, msg);
    EXPECT_EQ(code, c.ok ? 0 : 2);
    EXPECT_EQ(msg, c.message);
  }
}

TEST(ObjectClientInitTest, FailureRecordNeverShowsTheSecretKey) {
  orca_test::LogCapture logs;
  SStorageServerConfig config = ValidConfig();
  config.ip.clear();
  CObjectClient client(config);
  ASSERT_FALSE(client.Init());
  ASSERT_FALSE(logs.Records().empty());
  for (const orca_test::LogRecord& record : logs.Records()) {
    EXPECT_EQ(record.message.find("TOPSECRETKEY"), std::string::npos) << record.message;
  }
  EXPECT_TRUE(logs.Contains("ak[AKID]"));
  EXPECT_TRUE(logs.Contains("sk[<12 bytes hidden>] , ak[AKID], ip[], pool name[p1] is invalid."));
  EXPECT_TRUE(logs.Contains("[Orca::CloudStorage::CObjectClient::Init]"));
  EXPECT_TRUE(logs.Contains("[src/StorageClient/ObjectClientInterface.cpp("));
}

TEST(ObjectClientTest, FreshClientHasNoError) {
  CObjectClient client(ValidConfig());
  int32_t code = -1;
  int32_t subcode = -1;
  std::string msg = "x";
  client.GetLastError(code, subcode, msg);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(subcode, 0);
  EXPECT_EQ(msg, "");
}

TEST(ObjectClientTest, CopiesShareTheErrorState) {
  SStorageServerConfig config = ValidConfig();
  config.download_port = 0;
  CObjectClient original(config);
  CObjectClient copy(original);
  CObjectClient assigned(ValidConfig());
  assigned = copy;
  assigned = assigned;  // self-assignment keeps the share

  EXPECT_FALSE(assigned.Init());
  for (CObjectClient* client : {&original, &copy, &assigned}) {
    int32_t code = 0;
    std::string msg;
    client->GetLastError(code, msg);
    EXPECT_EQ(code, 2);
    EXPECT_EQ(msg, "upload port or download port is 0.");
  }
}

TEST(ObjectImplTest, SubcodeSurvivesALaterRecordError) {
  ObjectImpl impl{SStorageServerConfig()};
  impl.RecordErrorWithSubCode(3, -1002, "DownloadBigObject rsp status code[-1002].");
  impl.RecordError(4, "later.");
  EXPECT_EQ(impl.last_error_code, 4);
  EXPECT_EQ(impl.last_error_subcode, -1002);
  EXPECT_EQ(impl.last_error_msg, "later.");
}

TEST(ObjectClientTest, UninitAlwaysSucceedsAndKeepsTheClientUsable) {
  CObjectClient client{SStorageServerConfig{}};
  EXPECT_TRUE(client.Uninit());
  EXPECT_FALSE(client.Init());
  EXPECT_TRUE(client.Uninit());
  int32_t code = 0;
  std::string msg;
  client.GetLastError(code, msg);
  EXPECT_EQ(code, 2);
}

TEST(LoggingTest, QualifiedFunctionNames) {
  EXPECT_EQ(QualifiedFunctionName("bool Orca::CloudStorage::CObjectClient::Init()"),
            "Orca::CloudStorage::CObjectClient::Init");
  EXPECT_EQ(QualifiedFunctionName(
                "Orca::CloudStorage::CObjectClient::CObjectClient(const SStorageServerConfig&)"),
            "Orca::CloudStorage::CObjectClient::CObjectClient");
  EXPECT_EQ(QualifiedFunctionName("std::map<int, int> A::B(int)"), "A::B");
}

TEST(LoggingTest, QuotedBodiesAreCapped) {
  EXPECT_EQ(QuoteBody("short"), "short");
  EXPECT_EQ(QuoteBody(std::string(kMaxQuotedBody, 'a')), std::string(kMaxQuotedBody, 'a'));
  const std::string quoted = QuoteBody(std::string(100 * 1024 * 1024, 'b'));
  EXPECT_LT(quoted.size(), kMaxQuotedBody + 64);
  EXPECT_NE(quoted.find("[104853504 more bytes not shown]"), std::string::npos);
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
