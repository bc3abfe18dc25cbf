// The receiver of a streamed download fed what the transport does not
// produce on demand: a first piece without data fails with code 3 and
// subcode -1001, and nothing is written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "StorageClient/operations/DownloadToFile.h"
#include "StorageClient/protocol/ObjectImpl.h"
#include "StorageClient/protocol/ObjectProtoClient.h"

namespace Orca {
namespace CloudStorage {

namespace {

TEST(RecvMsgCallbackTest, FirstPieceWithoutDataFails) {
  const std::string path =
      (std::filesystem::path(::testing::TempDir()) / ("recv_" + std::to_string(::getpid())))
          .string();
  SStorageServerConfig config;
  config.ip = "127.0.0.1";
  config.pool_name = "p1";
  auto impl = std::make_shared<ObjectImpl>(config);
  CObjectProtoClient client;
  client.Init(impl);
  CDownloadToFile download(impl, client, path);
  Net::CHttpClientResponse answer;
  answer.SetStatusCode(200);
  answer.AddHeaderField("Content-Length", "4");
  download.Receive(answer, nullptr, 0, {}, false);
  download.Receive(answer, "data", 4, {}, false);
  download.Receive(answer, nullptr, 0, {}, true);
  EXPECT_EQ(download.StreamOutcome(), -1001);
  EXPECT_FALSE(std::filesystem::exists(path));

  const Status judged = download.JudgeStream(true, "/p1/k.bin");
  EXPECT_EQ(judged.code(), ErrorCode::kLocalFile);
  EXPECT_EQ(judged.subcode(), -1001);
  EXPECT_EQ(judged.message(), "DownloadBigObject rsp status code[-1001].");
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
