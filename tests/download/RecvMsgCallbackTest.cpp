// The receiver of a streamed download fed what the transport does not
// produce on demand: a first piece without data, and an empty object whose
// file cannot be cut. Both fail with code 3 and their subcode.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "StorageClient/ObjectImpl.h"
#include "StorageClient/ObjectProtoClient.h"

namespace Orca {
namespace CloudStorage {

// Reaches the streaming state of a protocol client.
class CDownloadToFilePeer {
 public:
  explicit CDownloadToFilePeer(CObjectProtoClient& client) : client_(client) {}
  void SetLocalPath(const std::string& path) { client_.local_path_ = path; }
  int32_t RecvStatus() const { return client_.recv_status_; }
  bool JudgeStream(bool streamed) { return client_.JudgeStream(streamed, "/p1/k.bin"); }

 private:
  CObjectProtoClient& client_;
};

namespace {

Net::CHttpClientResponse Answer(const char* content_length) {
  Net::CHttpClientResponse response;
  response.SetStatusCode(200);
  response.AddHeaderField("Content-Length", content_length);
  return response;
}

TEST(RecvMsgCallbackTest, LocalFailuresTravelAsSubcodes) {
  const std::string own_file =
      (std::filesystem::path(::testing::TempDir()) / ("recv_" + std::to_string(::getpid())))
          .string();
  const struct {
    const char* name;
    std::string path;
    std::vector<const char*> pieces;  // nullptr: a piece without data
    const char* content_length;
    int32_t subcode;
  } cases[] = {
      {"first piece without data", own_file, {nullptr, "data"}, "4", -1001},
      {"cutting an empty object's file fails", "/dev/full", {}, "0", -1002},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SStorageServerConfig config;
    config.ip = "127.0.0.1";
    config.upload_port = 1;
    config.download_port = 1;
    config.pool_name = "p1";
    config.ak = "AK";
    config.sk = "SK";
    auto impl = std::make_shared<ObjectImpl>(config);
    CObjectProtoClient client;
    ASSERT_TRUE(client.Init(impl));
    CDownloadToFilePeer peer(client);
    peer.SetLocalPath(c.path);
    for (const char* piece : c.pieces) {
      const auto size = piece == nullptr ? 0u : static_cast<uint32_t>(std::strlen(piece));
      client.RecvMsgCallback(Answer(c.content_length), piece, size, {}, false);
    }
    client.RecvMsgCallback(Answer(c.content_length), nullptr, 0, {}, true);
    EXPECT_EQ(peer.RecvStatus(), c.subcode);
    EXPECT_FALSE(std::filesystem::exists(own_file));

    EXPECT_FALSE(peer.JudgeStream(true));
    EXPECT_EQ(impl->last_error_code, 3);
    EXPECT_EQ(impl->last_error_subcode, c.subcode);
    EXPECT_EQ(impl->last_error_msg,
              "DownloadBigObject rsp status code[" + std::to_string(c.subcode) + "].");
  }
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
