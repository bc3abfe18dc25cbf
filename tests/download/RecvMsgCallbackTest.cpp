// The receiver of a streamed download, fed fake answers piece by piece, and
// how the download judges the answer afterwards.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "LogCapture.h"
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
  const std::string& RedirectLocation() const { return client_.redirect_location_; }
  bool JudgeStream(bool streamed) { return client_.JudgeStream(streamed, "/p1/k.bin"); }

 private:
  CObjectProtoClient& client_;
};

namespace {

namespace fs = std::filesystem;
using Error = Net::HttpClient::Error;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr uint64_t kUserData = 77;
constexpr char kMissing[] = "<no file>";

Net::CHttpClientResponse Answer(
    int status, const std::vector<std::pair<std::string, std::string>>& fields = {}) {
  Net::CHttpClientResponse response;
  response.SetStatusCode(status);
  for (const auto& field : fields) {
    response.AddHeaderField(field.first, field.second);
  }
  return response;
}

class RecvMsgCallbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::path(::testing::TempDir()) /
           ("recv_" + std::string(test->name()) + "_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "object.bin").string();

    SStorageServerConfig config;
    config.ip = "127.0.0.1";
    config.upload_port = 1;
    config.download_port = 1;
    config.pool_name = "p1";
    config.ak = "AK";
    config.sk = "SK";
    config.user_data = kUserData;
    config.progress_callback = [this](const SProgressInfo& info) {
      EXPECT_EQ(info.reserved, 0u);
      EXPECT_EQ(info.user_data, kUserData);
      percents_.push_back(info.percent);
    };
    impl_ = std::make_shared<ObjectImpl>(config);
    ASSERT_TRUE(client_.Init(impl_));
    peer_.SetLocalPath(path_);
  }

  void TearDown() override { fs::remove_all(dir_); }

  // Hands `pieces` (nullptr: a piece without data) to the callback, then the
  // final call, which carries `error`.
  void Feed(const Net::CHttpClientResponse& response, const std::vector<const char*>& pieces,
            Error error = {}) {
    for (const char* piece : pieces) {
      const auto size = piece == nullptr ? 0u : static_cast<uint32_t>(std::strlen(piece));
      client_.RecvMsgCallback(response, piece, size, Error{}, false);
    }
    client_.RecvMsgCallback(response, nullptr, 0, error, true);
  }

  void WriteFile(const std::string& path, const std::string& text) const {
    std::ofstream(path, std::ios::binary) << text;
  }
  std::string ReadFile() const {
    std::ifstream in(path_, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : kMissing;
  }

  fs::path dir_;
  std::string path_;
  std::shared_ptr<ObjectImpl> impl_;
  CObjectProtoClient client_;
  CDownloadToFilePeer peer_{client_};
  std::vector<int32_t> percents_;
};

TEST_F(RecvMsgCallbackTest, WritesThePiecesAndCutsALongerOldFile) {
  WriteFile(path_, std::string(100, 'x'));
  Feed(Answer(200, {{"Content-Length", "10"}}), {"hello", "world"});
  EXPECT_EQ(ReadFile(), "helloworld");
  EXPECT_THAT(percents_, ElementsAre(50, 100));
  EXPECT_TRUE(peer_.JudgeStream(true));
  EXPECT_EQ(impl_->last_error_code, 0);
}

TEST_F(RecvMsgCallbackTest, ChunkedAnswerWritesItsBodyWithoutProgress) {
  Feed(Answer(200, {{"Transfer-Encoding", "chunked"}}), {"abc", "def"});
  EXPECT_EQ(ReadFile(), "abcdef");
  EXPECT_THAT(percents_, IsEmpty());
  EXPECT_TRUE(peer_.JudgeStream(true));
}

TEST_F(RecvMsgCallbackTest, EmptyObjectLeavesAnEmptyFile) {
  for (const char* old : {"", "stale content"}) {
    SCOPED_TRACE(old);
    CObjectProtoClient client;
    ASSERT_TRUE(client.Init(impl_));
    CDownloadToFilePeer peer(client);
    peer.SetLocalPath(path_);
    fs::remove(path_);
    if (*old != '\0') WriteFile(path_, old);
    client.RecvMsgCallback(Answer(200, {{"Content-Length", "0"}}), nullptr, 0, Error{}, true);
    EXPECT_EQ(ReadFile(), "");
    EXPECT_TRUE(peer.JudgeStream(true));
  }
}

TEST_F(RecvMsgCallbackTest, ProgressRisesStrictlyAndNeverReportsZero) {
  // 1000 bytes in pieces of 3: every percentage from 1 to 100 exactly once.
  const std::string body(1000, 'b');
  const Net::CHttpClientResponse response = Answer(200, {{"Content-Length", "1000"}});
  for (size_t at = 0; at < body.size(); at += 3) {
    const auto size = static_cast<uint32_t>(std::min<size_t>(3, body.size() - at));
    client_.RecvMsgCallback(response, body.data() + at, size, Error{}, false);
  }
  client_.RecvMsgCallback(response, nullptr, 0, Error{}, true);
  ASSERT_EQ(percents_.size(), 100u);
  for (size_t i = 0; i < percents_.size(); ++i) {
    EXPECT_EQ(percents_[i], static_cast<int32_t>(i + 1));
  }
  EXPECT_EQ(ReadFile(), body);
}

struct LocalFailureCase {
  const char* name;
  std::string path;  // empty: the test's own file
  std::vector<const char*> pieces;
  const char* content_length;
  int32_t status;  // recv_status afterwards; also the subcode
  int32_t code;
};

TEST_F(RecvMsgCallbackTest, LocalFailuresTravelAsSubcodes) {
  const LocalFailureCase cases[] = {
      {"first piece without data", "", {nullptr, "data"}, "4", -1001, 3},
      {"directory missing", (dir_ / "missing" / "f").string(), {"data"}, "4", 1000000 + ENOENT, 5},
      {"write fails", "/dev/full", {"data"}, "4", -1002, 3},
      {"cutting fails", "/dev/full", {}, "0", -1002, 3},
  };
  for (const LocalFailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto impl = std::make_shared<ObjectImpl>(impl_->config);
    CObjectProtoClient client;
    ASSERT_TRUE(client.Init(impl));
    CDownloadToFilePeer peer(client);
    peer.SetLocalPath(c.path.empty() ? path_ : c.path);
    for (const char* piece : c.pieces) {
      const auto size = piece == nullptr ? 0u : static_cast<uint32_t>(std::strlen(piece));
      client.RecvMsgCallback(Answer(200, {{"Content-Length", c.content_length}}), piece, size,
                             Error{}, false);
    }
    client.RecvMsgCallback(Answer(200), nullptr, 0, Error{}, true);
    EXPECT_EQ(peer.RecvStatus(), c.status);
    EXPECT_EQ(ReadFile(), kMissing);

    EXPECT_FALSE(peer.JudgeStream(true));
    EXPECT_EQ(impl->last_error_code, c.code);
    EXPECT_EQ(impl->last_error_subcode, c.status);
    EXPECT_EQ(impl->last_error_msg,
              "DownloadBigObject rsp status code[" + std::to_string(c.status) + "].");
  }
}

TEST_F(RecvMsgCallbackTest, PieceWithoutOpenFileIsLoggedByTheCallback) {
  orca_test::LogCapture logs;
  Feed(Answer(200, {{"Content-Length", "4"}}), {nullptr, "data"});
  EXPECT_TRUE(logs.Contains(
      "[Orca::CloudStorage::CObjectProtoClient::RecvMsgCallback][Client]recv file, open file "
      "failed:" +
      path_ + "[src/StorageClient/ObjectDownloadToFile.cpp("));
}

TEST_F(RecvMsgCallbackTest, RedirectKeepsItsLocationAndWritesNothing) {
  const std::string location = "http://10.1.1.1:9000/elsewhere";
  Feed(Answer(302, {{"Location", location}, {"Content-Length", "5"}}), {"moved"});
  EXPECT_EQ(peer_.RecvStatus(), 302);
  EXPECT_EQ(peer_.RedirectLocation(), location);
  EXPECT_EQ(ReadFile(), kMissing);
}

TEST_F(RecvMsgCallbackTest, ErrorAnswerWritesNothingAndRecordsItsStatus) {
  Feed(Answer(404, {{"Content-Length", "9"}}), {"NoSuchKey"});
  EXPECT_EQ(ReadFile(), kMissing);
  EXPECT_FALSE(peer_.JudgeStream(true));
  EXPECT_EQ(impl_->last_error_code, 5);
  EXPECT_EQ(impl_->last_error_subcode, 404);
  EXPECT_EQ(impl_->last_error_msg, "DownloadBigObject rsp status code[404].");
}

TEST_F(RecvMsgCallbackTest, BrokenTransferLeavesWhatWasWritten) {
  WriteFile(path_, std::string(20, 'x'));
  Feed(Answer(200, {{"Content-Length", "10"}}), {"hello"}, Error{18, 104});
  EXPECT_EQ(ReadFile(), "hello" + std::string(15, 'x'));
  EXPECT_FALSE(peer_.JudgeStream(false));
  EXPECT_EQ(impl_->last_error_code, 4);
  EXPECT_EQ(impl_->last_error_msg, "Send download big object msg failed[18:104].");
}

TEST_F(RecvMsgCallbackTest, BodyShortOfItsLengthFails) {
  WriteFile(path_, std::string(20, 'x'));
  Feed(Answer(200, {{"Content-Length", "10"}}), {"hello"});
  EXPECT_EQ(ReadFile(), "hello" + std::string(15, 'x'));
  EXPECT_FALSE(peer_.JudgeStream(true));
  EXPECT_EQ(impl_->last_error_code, 5);
  EXPECT_EQ(impl_->last_error_msg, "DownloadBigObject rsp body short[5 of 10 bytes].");
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
