// The object client's Init checks, its shared error state and the log
// record helpers.
#include <gtest/gtest.h>

#include <string>

#include "LogCapture.h"
#include "OrcaCloudStorage/StorageClient.h"
#include "StorageClient/protocol/ObjectImpl.h"
#include "StorageClient/wire/Logging.h"

namespace Orca {
namespace CloudStorage {
namespace {

std::pair<int32_t, std::string> LastError(CObjectClient& client) {
  int32_t code = -1;
  std::string msg;
  client.GetLastError(code, msg);
  return {code, msg};
}

// Strings are checked before ports; the failure record names the keys, the
// secret one masked.
TEST(ObjectClientInitTest, ChecksInOrderAndMasksTheSecretKey) {
  constexpr char kEmpty[] = "ak/sk empty or ip & pool name empty.";
  constexpr char kPort[] = "upload port or download port is 0.";
  const struct {
    const char *ak, *sk, *ip, *pool;
    uint32_t upload_port, download_port;
    const char* message;  // "" for success
  } cases[] = {
      {"AKID", "TOPSECRETKEY", "10.0.0.1", "p1", 1, 2, ""},
      {"", "TOPSECRETKEY", "10.0.0.1", "p1", 1, 2, kEmpty},
      {"AKID", "", "10.0.0.1", "p1", 1, 2, kEmpty},
      {"AKID", "TOPSECRETKEY", "", "p1", 1, 2, kEmpty},
      {"AKID", "TOPSECRETKEY", "10.0.0.1", "", 0, 2, kEmpty},
      {"AKID", "TOPSECRETKEY", "10.0.0.1", "p1", 0, 2, kPort},
      {"AKID", "TOPSECRETKEY", "10.0.0.1", "p1", 1, 0, kPort},
  };
  orca_test::LogCapture logs;  // the secret guard fails the test if a record holds the key
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.ak) + "," + c.sk + "," + c.ip + "," + c.pool);
    SStorageServerConfig config;
    config.ak = c.ak;
    config.sk = c.sk;
    config.ip = c.ip;
    config.pool_name = c.pool;
    config.upload_port = c.upload_port;
    config.download_port = c.download_port;
    CObjectClient client(config);
    EXPECT_EQ(client.Init(), *c.message == '\0');
    EXPECT_EQ(LastError(client),
              std::make_pair(*c.message == '\0' ? 0 : 2, std::string(c.message)));
  }
  EXPECT_TRUE(logs.Contains("[Orca::CloudStorage::CObjectClient::Init]"));
  EXPECT_TRUE(logs.Contains("sk[<12 bytes hidden>] , ak[AKID], ip[], pool name[p1] is invalid."));
  EXPECT_TRUE(logs.Contains("[src/StorageClient/ObjectClientInterface.cpp("));
}

TEST(ObjectClientTest, CopiesShareTheErrorState) {
  CObjectClient original{SStorageServerConfig()};
  CObjectClient copy(original);
  CObjectClient assigned{SStorageServerConfig()};
  assigned = copy;
  assigned = assigned;  // self-assignment keeps the share

  EXPECT_FALSE(assigned.Init());
  for (CObjectClient* client : {&original, &copy, &assigned}) {
    EXPECT_EQ(LastError(*client),
              std::make_pair(2, std::string("ak/sk empty or ip & pool name empty.")));
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

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
