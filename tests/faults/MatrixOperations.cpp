// The public operations of the fault matrix: uploads (objects and
// pictures), downloads into a buffer or a file, removals and the version
// query.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "FaultMatrix.h"

namespace orca_test {
namespace {

using Orca::CloudStorage::CObjectClient;
using Orca::CloudStorage::CPictureClient;

constexpr char kUntouched[] = "untouched";
constexpr uint32_t kUntouchedLength = 12345;
constexpr uint64_t kMemoryObjectSize = 256 * 1024 + 7;
constexpr char kRange[] = "1000-70999";

std::string PictureBytes() { return "\xff\xd8\xff\xe0" + GeneratedBytes(5, 0, 40000) + "\xff\xd9"; }

bool ReadFile(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return static_cast<bool>(in);
}

// Takes a downloaded buffer: checks its terminating zero and frees it.
std::string TakeBuffer(char* buffer, uint32_t length) {
  EXPECT_EQ(buffer[length], '\0') << "the buffer must end in a zero byte";
  std::string bytes(buffer, length);
  delete[] buffer;
  return bytes;
}

// Compares without printing megabytes on a mismatch.
void ExpectSameBytes(const std::string& actual, const std::string& expected, const char* what) {
  EXPECT_EQ(actual.size(), expected.size()) << what;
  EXPECT_TRUE(actual == expected) << what << " differs from what was expected";
}

// Faults off: the whole object or picture at `url`, through a clean client.
bool ReadObject(Emulator& emulator, const std::string& url, std::string& bytes,
                bool picture = false) {
  char* buffer = nullptr;
  uint32_t length = 0;
  if (picture ? !CPictureClient(emulator.PictureConfig()).DownloadPicture(&buffer, length, url)
              : !CObjectClient(emulator.ObjectConfig()).DownloadFile(&buffer, length, url)) {
    return false;
  }
  bytes = TakeBuffer(buffer, length);
  return true;
}

// Runs `call` on a new client of `env` with the matrix's time-outs (and the
// retry column's policy) and collects its error state.
template <typename Call>
bool ObjectCall(const CellEnv& env, ErrorState& error, const Call& call) {
  CObjectClient client(env.config);
  client.SetTimeoutConfig(kClientTimeoutMs, kClientTimeoutMs);
  if (env.retries) client.SetRetryPolicy(kRetryAttempts, kRetryBaseDelayMs);
  const bool ok = call(client);
  client.GetLastError(error.code, error.message);
  return ok;
}

// A picture client of `env`, with the retry column's policy.
CPictureClient PictureClient(const CellEnv& env) {
  CPictureClient client(env.config);
  if (env.retries) client.SetRetryPolicy(kRetryAttempts, kRetryBaseDelayMs);
  return client;
}

// An upload of an object (from memory, a file or in three pieces) or of a
// picture. A success hands back the URL of the whole bytes; a failure leaves
// the URL argument as it was (a piece-wise upload: as the first piece set it).
class Upload : public MatrixOperation {
 public:
  explicit Upload(Op op)
      : op_(op),
        data_(op == Op::kPictureUpload ? PictureBytes()
              : op == Op::kUploadFileMultipart
                  ? GeneratedBytes(2, 0, 10 * 1024 * 1024 + 1)  // 6 parts
                  : GeneratedBytes(3, 0, 120001)) {}

  bool picture() const override { return op_ == Op::kPictureUpload; }
  void Prepare(const CellEnv& env) override {
    path_ = env.dir + "/upload.dat";  // read by the whole-file uploads
    std::ofstream(path_, std::ios::binary).write(data_.data(), std::streamsize(data_.size()));
  }
  bool Call(const CellEnv& env, ErrorState& error) override {
    settled_url_ = op_ == Op::kPiecesAndFileName ? "matrix-" + env.tag + ".bin"
                   : op_ == Op::kPieces || op_ == Op::kPiecesAloneStorage ? ""
                                                                          : kUntouched;
    url_ = settled_url_;
    const auto size = static_cast<uint32_t>(data_.size());
    if (picture()) {
      return PictureClient(env).UploadPicture(url_, data_.data(), size);
    }
    return ObjectCall(env, error, [&](CObjectClient& client) {
      return op_ == Op::kUploadMemory ? client.UploadFile(url_, data_.data(), size)
             : op_ == Op::kUploadFileSmall || op_ == Op::kUploadFileMultipart
                 ? client.UploadFile(url_, path_)
                 : SendPieces(client);
    });
  }
  void CheckSuccess(const CellEnv& env, const char* /*replaced*/) override {
    if (!picture()) {
      EXPECT_THAT(url_, ::testing::StartsWith("/" + env.config.pool_name + "/"));
    }
    std::string stored;
    ASSERT_TRUE(ReadObject(env.emulator, url_, stored, picture())) << url_;
    ExpectSameBytes(stored, data_, "the stored bytes");
  }
  void CheckFailure(const CellEnv& /*env*/) override { EXPECT_EQ(url_, settled_url_); }
  const std::string* Stored() const override { return &data_; }

 private:
  static constexpr uint32_t kPieces = 3;

  bool SendPieces(CObjectClient& client) {
    const uint32_t piece_size = static_cast<uint32_t>(data_.size()) / kPieces;
    for (uint32_t piece = 0; piece < kPieces; ++piece) {
      const bool first = piece == 0;
      const bool last = piece == kPieces - 1;
      const char* bytes = data_.data() + size_t{piece} * piece_size;
      const uint32_t length = piece_size + (last ? data_.size() % kPieces : 0);
      const bool ok = op_ == Op::kPieces ? client.UploadFileByPieces(url_, bytes, length, last)
                      : op_ == Op::kPiecesAloneStorage
                          ? client.UploadFileByPiecesAloneStorage(url_, bytes, length, last)
                          : client.UploadFileByPiecesAndFileName(url_, bytes, length, last, first);
      if (!ok) return false;
      settled_url_ = first ? url_ : settled_url_;
    }
    return true;
  }

  const Op op_;
  const std::string data_;
  std::string path_;
  std::string settled_url_;
  std::string url_;
};

// A download into a buffer that the library allocates (a generated object,
// whole or by range, or a stored picture): the buffer and the length are set
// on success only.
class BufferDownload : public MatrixOperation {
 public:
  explicit BufferDownload(Op op)
      : op_(op),
        url_(op == Op::kPictureDownload ? "" : "/pool1/" + GeneratedKey(kMemoryObjectSize, 7)) {}

  bool picture() const override { return op_ == Op::kPictureDownload; }
  std::string ObjectUrl() const override { return url_; }
  void Prepare(const CellEnv& env) override {
    if (picture()) {
      CPictureClient client(env.emulator.PictureConfig());
      ASSERT_TRUE(client.UploadPicture(url_, picture_.data(), uint32_t(picture_.size())));
    }
  }
  bool Call(const CellEnv& env, ErrorState& error) override {
    char untouched = 0;
    char* buffer = &untouched;
    uint32_t length = kUntouchedLength;
    std::string range = op_ == Op::kDownloadRange ? kRange : "";
    bool ok = false;
    if (picture()) {
      ok = PictureClient(env).DownloadPicture(&buffer, length, url_);
    } else {
      ok = ObjectCall(env, error, [&](CObjectClient& client) {
        return op_ == Op::kDownloadRange ? client.DownloadFile(&buffer, length, range, url_)
                                         : client.DownloadFile(&buffer, length, url_);
      });
      EXPECT_EQ(range, op_ == Op::kDownloadRange ? kRange : "") << "the range must not change";
    }
    EXPECT_EQ(buffer != &untouched, ok) << "the buffer must be set exactly on success";
    untouched_ = buffer == &untouched && length == kUntouchedLength;
    received_ = buffer != &untouched ? TakeBuffer(buffer, length) : "";
    return ok;
  }
  void CheckSuccess(const CellEnv& /*env*/, const char* replaced) override {
    const std::string expected = replaced != nullptr ? replaced
                                 : picture()         ? picture_
                                 : op_ == Op::kDownloadRange
                                     ? GeneratedBytes(7, 1000, 70000)
                                     : GeneratedBytes(7, 0, kMemoryObjectSize);
    ExpectSameBytes(received_, expected, "the downloaded bytes");
  }
  void CheckFailure(const CellEnv& /*env*/) override {
    EXPECT_TRUE(untouched_) << "a failed download changed the buffer or the length";
  }
  const std::string* Stored() const override { return picture() ? &picture_ : nullptr; }

 private:
  const Op op_;
  const std::string picture_ = PictureBytes();
  std::string url_;
  std::string received_;
  bool untouched_ = false;
};

// A generated object into a local file: streamed over HTTP, in ranges over
// HTTPS.
class FileDownload : public MatrixOperation {
 public:
  explicit FileDownload(bool https)
      : https_(https),
        size_(https ? 10 * 1024 * 1024 + 1 : 512 * 1024 + 3),  // HTTPS: 11 ranges
        url_("/pool1/" + GeneratedKey(size_, kSeed)) {}

  bool https() const override { return https_; }
  std::string ObjectUrl() const override { return url_; }
  bool Call(const CellEnv& env, ErrorState& error) override {
    path_ = env.dir + "/" + env.tag + ".download";
    return ObjectCall(env, error,
                      [this](CObjectClient& client) { return client.DownloadFile(url_, path_); });
  }
  void CheckSuccess(const CellEnv& /*env*/, const char* replaced) override {
    std::string file;
    ASSERT_TRUE(ReadFile(path_, file)) << "no file after a reported success";
    ExpectSameBytes(file, replaced != nullptr ? replaced : GeneratedBytes(kSeed, 0, size_),
                    "the downloaded file");
  }
  void CheckFailure(const CellEnv& /*env*/) override {
    // What was written stays: some first bytes of the object, never more.
    std::string file;
    if (ReadFile(path_, file)) {
      EXPECT_LT(file.size(), size_);
      ExpectSameBytes(file, GeneratedBytes(kSeed, 0, file.size()), "the partly written file");
    }
  }

 private:
  const bool https_;
  static constexpr uint64_t kSeed = 11;
  const uint64_t size_;
  const std::string url_;
  std::string path_;
};

// Whether a failed removal left the object depends on whether the service
// acted before the fault struck: only a success is checked.
class Removal : public MatrixOperation {
 public:
  explicit Removal(bool object_file) : object_file_(object_file) {}

  void Prepare(const CellEnv& env) override {
    ASSERT_TRUE(CObjectClient(env.emulator.ObjectConfig()).UploadFile(url_, "object", 6));
  }
  std::string ObjectUrl() const override { return url_; }
  bool Call(const CellEnv& env, ErrorState& error) override {
    return ObjectCall(env, error, [this](CObjectClient& client) {
      return object_file_ ? client.RemoveObjectFileByUrl(url_) : client.RemoveFileByUrl(url_);
    });
  }
  void CheckSuccess(const CellEnv& env, const char* /*replaced*/) override {
    std::string bytes;
    EXPECT_FALSE(ReadObject(env.emulator, url_, bytes)) << "a reported removal left the object";
  }

 private:
  const bool object_file_;
  std::string url_;
};

class VersionQuery : public MatrixOperation {
 public:
  bool Call(const CellEnv& env, ErrorState& error) override {
    version_ = kUntouched;
    return ObjectCall(env, error, [&](CObjectClient& client) {
      return client.GetStorageVersion(version_, env.version_server);
    });
  }
  void CheckSuccess(const CellEnv& env, const char* /*replaced*/) override {
    std::string version;
    ASSERT_TRUE(CObjectClient(env.emulator.ObjectConfig())
                    .GetStorageVersion(version, env.emulator.VersionServer()));
    EXPECT_EQ(version_, version);
  }
  void CheckFailure(const CellEnv& /*env*/) override { EXPECT_EQ(version_, kUntouched); }

 private:
  std::string version_;
};

}  // namespace

std::unique_ptr<MatrixOperation> MakeOperation(Op op) {
  switch (op) {
    case Op::kDownloadMemory:
    case Op::kDownloadRange:
    case Op::kPictureDownload:
      return std::make_unique<BufferDownload>(op);
    case Op::kDownloadFileHttp:
    case Op::kDownloadFileHttps:
      return std::make_unique<FileDownload>(op == Op::kDownloadFileHttps);
    case Op::kRemove:
    case Op::kRemoveObjectFile:
      return std::make_unique<Removal>(op == Op::kRemoveObjectFile);
    case Op::kVersion:
      return std::make_unique<VersionQuery>();
    default:
      return std::make_unique<Upload>(op);
  }
}

}  // namespace orca_test
