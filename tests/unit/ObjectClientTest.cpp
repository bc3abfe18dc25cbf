// The object client's Init checks, its shared error state and the log
// record helpers.
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

std::pair<int32_t, std::string> LastError(CObjectClient& client) {
  int32_t code = -1;
  std::string msg;
  client.GetLastError(code, msg);
  return {code, msg};
}

TEST(ObjectClientInitTest, ChecksInOrder) {
  constexpr char kEmpty[] = "ak/sk empty or ip & pool name empty.";
  constexpr char kPort[] = "upload port or download port is 0.";
  const struct {
    const char* name;
    void (*mutate)(SStorageServerConfig&);
    const char* message;  // "" for success
  } cases[] = {
      {"valid", [](SStorageServerConfig&) {}, ""},
      {"no ak", [](SStorageServerConfig& c) { c.ak.clear(); }, kEmpty},
      {"no sk", [](SStorageServerConfig& c) { c.sk.clear(); }, kEmpty},
      {"no ip", [](SStorageServerConfig& c) { c.ip.clear(); }, kEmpty},
      {"no pool", [](SStorageServerConfig& c) { c.pool_name.clear(); }, kEmpty},
      {"strings before ports",
       [](SStorageServerConfig& c) {
         c.pool_name.clear();
         c.upload_port = 0;
       },
       kEmpty},
      {"upload port 0", [](SStorageServerConfig& c) { c.upload_port = 0; }, kPort},
      {"download port 0", [](SStorageServerConfig& c) { c.download_port = 0; }, kPort},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SStorageServerConfig config = ValidConfig();
    c.mutate(config);
    CObjectClient client(config);
    EXPECT_EQ(client.Init(), *c.message == '\0');
    EXPECT_EQ(LastError(client),
              std::make_pair(*c.message == '\0' ? 0 : 2, std::string(c.message)));
  }
}

TEST(ObjectClientInitTest, FailureRecordMasksTheSecretKey) {
  orca_test::LogCapture logs;
  SStorageServerConfig config = ValidConfig();
  config.ip.clear();
  CObjectClient client(config);
  ASSERT_FALSE(client.Init());
  for (const orca_test::LogRecord& record : logs.Records()) {
    EXPECT_EQ(record.message.find("TOPSECRETKEY"), std::string::npos) << record.message;
  }
  EXPECT_TRUE(logs.Contains("[Orca::CloudStorage::CObjectClient::Init]"));
  EXPECT_TRUE(logs.Contains("sk[<12 bytes hidden>] , ak[AKID], ip[], pool name[p1] is invalid."));
  EXPECT_TRUE(logs.Contains("[src/StorageClient/ObjectClientInterface.cpp("));
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
    EXPECT_EQ(LastError(*client),
              std::make_pair(2, std::string("upload port or download port is 0.")));
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

TEST(LoggingTest, QualifiedFunctionNames) {
  EXPECT_EQ(QualifiedFunctionName(
                "Orca::CloudStorage::CObjectClient::CObjectClient(const SStorageServerConfig&)"),
            "Orca::CloudStorage::CObjectClient::CObjectClient");
  EXPECT_EQ(QualifiedFunctionName("std::map<int, int> A::B(int)"), "A::B");
}

TEST(LoggingTest, QuotedBodiesAreCapped) {
  EXPECT_EQ(QuoteBody(std::string(kMaxQuotedBody, 'a')), std::string(kMaxQuotedBody, 'a'));
  const std::string quoted = QuoteBody(std::string(100 * 1024 * 1024, 'b'));
  EXPECT_LT(quoted.size(), kMaxQuotedBody + 64);
  EXPECT_NE(quoted.find("[104853504 more bytes not shown]"), std::string::npos);
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
