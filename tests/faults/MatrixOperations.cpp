#include "MatrixOperations.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <utility>

namespace orca_test {
namespace {

using Orca::CloudStorage::CObjectClient;
using Orca::CloudStorage::CPictureClient;
using ::testing::StartsWith;

constexpr char kUntouched[] = "untouched";
constexpr uint32_t kUntouchedLength = 12345;
constexpr uint64_t kMemoryObjectSize = 256 * 1024 + 7;
constexpr uint64_t kStreamedObjectSize = 512 * 1024 + 3;
constexpr uint64_t kRangedObjectSize = 10 * 1024 * 1024 + 1;  // 11 ranges
constexpr char kRange[] = "1000-70999";
constexpr uint64_t kRangeFirst = 1000;
constexpr size_t kRangeLength = 70000;

std::string RandomBytes(size_t size, uint64_t seed) {
  std::mt19937_64 generator(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) {
    c = static_cast<char>(generator());
  }
  return bytes;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

bool ReadFile(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

// Runs `call` on a new client of `env` (with the matrix's time-outs) and
// collects its error state.
bool ObjectCall(const CellEnv& env, ErrorState& error,
                const std::function<bool(CObjectClient&)>& call) {
  CObjectClient client(env.config);
  client.SetTimeoutConfig(kClientTimeoutMs, kClientTimeoutMs);
  const bool ok = call(client);
  client.GetLastError(error.code, error.subcode, error.message);
  return ok;
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

class MemoryUpload : public MatrixOperation {
 public:
  MemoryUpload() : data_(RandomBytes(64 * 1024 + 5, 1)) {}

  bool Call(const CellEnv& env, ErrorState& error) override {
    url_ = kUntouched;
    return ObjectCall(env, error, [this](CObjectClient& client) {
      return client.UploadFile(url_, data_.data(), static_cast<uint32_t>(data_.size()));
    });
  }
  void CheckSuccess(const CellEnv& env, const Expect& /*expect*/) override {
    EXPECT_THAT(url_, StartsWith("/" + env.config.pool_name + "/"));
    std::string stored;
    ASSERT_TRUE(ReadObject(env.emulator, url_, stored)) << url_;
    ExpectSameBytes(stored, data_, "the stored object");
  }
  void CheckFailure(const CellEnv& /*env*/) override { EXPECT_EQ(url_, kUntouched); }
  const std::string* StoredObject() const override { return &data_; }

 private:
  const std::string data_;
  std::string url_;
};

class FileUpload : public MatrixOperation {
 public:
  FileUpload(size_t size, std::string name) : data_(RandomBytes(size, 2)), name_(std::move(name)) {}

  void Prepare(const CellEnv& env) override { WriteFile(env.dir + "/" + name_, data_); }
  bool Call(const CellEnv& env, ErrorState& error) override {
    url_ = kUntouched;
    return ObjectCall(env, error, [this, &env](CObjectClient& client) {
      return client.UploadFile(url_, env.dir + "/" + name_);
    });
  }
  void CheckSuccess(const CellEnv& env, const Expect& /*expect*/) override {
    EXPECT_THAT(url_, StartsWith("/" + env.config.pool_name + "/"));
    std::string stored;
    ASSERT_TRUE(ReadObject(env.emulator, url_, stored)) << url_;
    ExpectSameBytes(stored, data_, "the stored object");
  }
  void CheckFailure(const CellEnv& /*env*/) override { EXPECT_EQ(url_, kUntouched); }
  const std::string* StoredObject() const override { return &data_; }

 private:
  const std::string data_;
  const std::string name_;
  std::string url_;
};

// Three pieces through one of the piece-wise members: parts 1, 2 and 3.
class PieceUpload : public MatrixOperation {
 public:
  explicit PieceUpload(Op member) : member_(member), data_(RandomBytes(120001, 3)) {}

  bool Call(const CellEnv& env, ErrorState& error) override {
    initial_url_ = member_ == Op::kPiecesAndFileName ? "matrix-" + env.tag + ".bin" : "";
    url_ = initial_url_;
    failed_piece_ = -1;
    return ObjectCall(env, error, [this](CObjectClient& client) {
      for (int piece = 0; piece < kPieces; ++piece) {
        if (!SendPiece(client, piece)) {
          failed_piece_ = piece;
          return false;
        }
        if (piece == 0) {
          first_url_ = url_;
        }
      }
      return true;
    });
  }
  void CheckSuccess(const CellEnv& env, const Expect& /*expect*/) override {
    EXPECT_THAT(url_, StartsWith("/" + env.config.pool_name + "/"));
    std::string stored;
    ASSERT_TRUE(ReadObject(env.emulator, url_, stored)) << url_;
    ExpectSameBytes(stored, data_, "the stored object");
  }
  void CheckFailure(const CellEnv& /*env*/) override {
    EXPECT_EQ(url_, failed_piece_ == 0 ? initial_url_ : first_url_);
  }
  const std::string* StoredObject() const override { return &data_; }

 private:
  static constexpr int kPieces = 3;

  bool SendPiece(CObjectClient& client, int piece) {
    const size_t size =
        data_.size() / kPieces + (piece == kPieces - 1 ? data_.size() % kPieces : 0);
    const char* bytes = data_.data() + piece * (data_.size() / kPieces);
    const auto length = static_cast<uint32_t>(size);
    const bool first = piece == 0;
    const bool last = piece == kPieces - 1;
    switch (member_) {
      case Op::kPieces:
        return client.UploadFileByPieces(url_, bytes, length, last);
      case Op::kPiecesAloneStorage:
        return client.UploadFileByPiecesAloneStorage(url_, bytes, length, last);
      default:
        return client.UploadFileByPiecesAndFileName(url_, bytes, length, last, first);
    }
  }

  const Op member_;
  const std::string data_;
  std::string initial_url_;
  std::string first_url_;
  std::string url_;
  int failed_piece_ = -1;
};

// A download into a buffer that the library allocates: the buffer and the
// length are set on success only.
class BufferDownload : public MatrixOperation {
 protected:
  void Collect(bool ok, bool replaced, char* buffer, uint32_t length) {
    EXPECT_EQ(replaced, ok) << "the buffer must be set exactly when the call succeeds";
    untouched_ = !replaced && length == kUntouchedLength;
    received_ = replaced ? TakeBuffer(buffer, length) : "";
  }
  void CheckFailure(const CellEnv& /*env*/) override {
    EXPECT_TRUE(untouched_) << "a failed download changed the buffer or the length";
  }

  std::string received_;

 private:
  bool untouched_ = false;
};

// A generated object (served by the emulator without being stored) into
// memory, whole or by range.
class MemoryDownload : public BufferDownload {
 public:
  explicit MemoryDownload(bool ranged)
      : ranged_(ranged), url_("/pool1/" + GeneratedKey(kMemoryObjectSize, 7)) {}

  std::string ObjectUrl() const override { return url_; }
  bool Call(const CellEnv& env, ErrorState& error) override {
    char untouched = 0;
    char* buffer = &untouched;
    uint32_t length = kUntouchedLength;
    std::string range = ranged_ ? kRange : "";
    const bool ok = ObjectCall(env, error, [&](CObjectClient& client) {
      return ranged_ ? client.DownloadFile(&buffer, length, range, url_)
                     : client.DownloadFile(&buffer, length, url_);
    });
    EXPECT_EQ(range, ranged_ ? kRange : "") << "the range argument must not change";
    Collect(ok, buffer != &untouched, buffer, length);
    return ok;
  }
  void CheckSuccess(const CellEnv& /*env*/, const Expect& expect) override {
    const std::string expected = expect.body != nullptr ? expect.body
                                 : ranged_ ? GeneratedBytes(7, kRangeFirst, kRangeLength)
                                           : GeneratedBytes(7, 0, kMemoryObjectSize);
    ExpectSameBytes(received_, expected, "the downloaded bytes");
  }

 private:
  const bool ranged_;
  const std::string url_;
};

// A generated object into a local file: streamed over HTTP, in ranges over
// HTTPS.
class FileDownload : public MatrixOperation {
 public:
  explicit FileDownload(bool https)
      : https_(https),
        size_(https ? kRangedObjectSize : kStreamedObjectSize),
        seed_(https ? 12 : 11),
        url_("/pool1/" + GeneratedKey(size_, seed_)) {}

  bool https() const override { return https_; }
  std::string ObjectUrl() const override { return url_; }
  bool Call(const CellEnv& env, ErrorState& error) override {
    path_ = env.dir + "/" + env.tag + ".download";
    return ObjectCall(env, error,
                      [this](CObjectClient& client) { return client.DownloadFile(url_, path_); });
  }
  void CheckSuccess(const CellEnv& /*env*/, const Expect& expect) override {
    std::string file;
    ASSERT_TRUE(ReadFile(path_, file)) << "no file after a reported success";
    ExpectSameBytes(file, expect.body != nullptr ? expect.body : GeneratedBytes(seed_, 0, size_),
                    "the downloaded file");
  }
  void CheckFailure(const CellEnv& /*env*/) override {
    // What was written stays: some first bytes of the object, never more.
    std::string file;
    if (ReadFile(path_, file)) {
      EXPECT_LT(file.size(), size_);
      ExpectSameBytes(file, GeneratedBytes(seed_, 0, file.size()), "the partly written file");
    }
  }

 private:
  const bool https_;
  const uint64_t size_;
  const uint64_t seed_;
  const std::string url_;
  std::string path_;
};

class Removal : public MatrixOperation {
 public:
  explicit Removal(bool object_file) : object_file_(object_file) {}

  void Prepare(const CellEnv& env) override {
    CObjectClient client(env.emulator.ObjectConfig());
    const std::string data = RandomBytes(4096, 4);
    ASSERT_TRUE(client.UploadFile(url_, data.data(), static_cast<uint32_t>(data.size())));
  }
  std::string ObjectUrl() const override { return url_; }
  bool Call(const CellEnv& env, ErrorState& error) override {
    return ObjectCall(env, error, [this](CObjectClient& client) {
      return object_file_ ? client.RemoveObjectFileByUrl(url_) : client.RemoveFileByUrl(url_);
    });
  }
  void CheckSuccess(const CellEnv& env, const Expect& /*expect*/) override {
    const std::string key = url_.substr(url_.rfind('/') + 1);
    for (const auto& [name, size] : env.emulator.Objects(env.config.pool_name)) {
      EXPECT_NE(name, key) << "a reported removal left the object";
    }
  }
  // Whether the object is gone depends on whether the service acted before
  // the fault struck; the call's result cannot tell.
  void CheckFailure(const CellEnv& /*env*/) override {}

 private:
  const bool object_file_;
  std::string url_;
};

class VersionQuery : public MatrixOperation {
 public:
  bool Call(const CellEnv& env, ErrorState& error) override {
    version_ = kUntouched;
    return ObjectCall(env, error, [this, &env](CObjectClient& client) {
      return client.GetStorageVersion(version_, env.version_server);
    });
  }
  void CheckSuccess(const CellEnv& env, const Expect& /*expect*/) override {
    CObjectClient client(env.emulator.ObjectConfig());
    std::string version;
    ASSERT_TRUE(client.GetStorageVersion(version, env.emulator.VersionServer()));
    EXPECT_EQ(version_, version);
  }
  void CheckFailure(const CellEnv& /*env*/) override { EXPECT_EQ(version_, kUntouched); }

 private:
  std::string version_;
};

std::string PictureBytes() { return "\xff\xd8\xff\xe0" + RandomBytes(40000, 5) + "\xff\xd9"; }

class PictureUpload : public MatrixOperation {
 public:
  PictureUpload() : picture_(PictureBytes()) {}

  bool picture() const override { return true; }
  bool Call(const CellEnv& env, ErrorState& /*error*/) override {
    url_ = kUntouched;
    CPictureClient client(env.config);
    return client.UploadPicture(url_, picture_.data(), static_cast<uint32_t>(picture_.size()));
  }
  void CheckSuccess(const CellEnv& env, const Expect& /*expect*/) override {
    std::string stored;
    ASSERT_TRUE(ReadPicture(env.emulator, url_, stored)) << url_;
    ExpectSameBytes(stored, picture_, "the stored picture");
  }
  void CheckFailure(const CellEnv& /*env*/) override { EXPECT_EQ(url_, kUntouched); }
  const std::string* StoredPicture() const override { return &picture_; }

 private:
  const std::string picture_;
  std::string url_;
};

class PictureDownload : public BufferDownload {
 public:
  PictureDownload() : picture_(PictureBytes()) {}

  bool picture() const override { return true; }
  void Prepare(const CellEnv& env) override {
    CPictureClient client(env.emulator.PictureConfig());
    ASSERT_TRUE(
        client.UploadPicture(url_, picture_.data(), static_cast<uint32_t>(picture_.size())));
  }
  bool Call(const CellEnv& env, ErrorState& /*error*/) override {
    char untouched = 0;
    char* buffer = &untouched;
    uint32_t length = kUntouchedLength;
    CPictureClient client(env.config);
    const bool ok = client.DownloadPicture(&buffer, length, url_);
    Collect(ok, buffer != &untouched, buffer, length);
    return ok;
  }
  void CheckSuccess(const CellEnv& /*env*/, const Expect& expect) override {
    ExpectSameBytes(received_, expect.body != nullptr ? expect.body : picture_,
                    "the downloaded picture");
  }
  const std::string* StoredPicture() const override { return &picture_; }

 private:
  const std::string picture_;
  std::string url_;
};

}  // namespace

std::unique_ptr<MatrixOperation> MakeOperation(Op op) {
  switch (op) {
    case Op::kUploadMemory:
      return std::make_unique<MemoryUpload>();
    case Op::kUploadFileSmall:
      return std::make_unique<FileUpload>(200 * 1024 + 3, "small.dat");
    case Op::kUploadFileMultipart:
      return std::make_unique<FileUpload>(10 * 1024 * 1024 + 1, "multipart.dat");  // 6 parts
    case Op::kPieces:
    case Op::kPiecesAloneStorage:
    case Op::kPiecesAndFileName:
      return std::make_unique<PieceUpload>(op);
    case Op::kDownloadMemory:
    case Op::kDownloadRange:
      return std::make_unique<MemoryDownload>(op == Op::kDownloadRange);
    case Op::kDownloadFileHttp:
    case Op::kDownloadFileHttps:
      return std::make_unique<FileDownload>(op == Op::kDownloadFileHttps);
    case Op::kRemove:
    case Op::kRemoveObjectFile:
      return std::make_unique<Removal>(op == Op::kRemoveObjectFile);
    case Op::kVersion:
      return std::make_unique<VersionQuery>();
    case Op::kPictureUpload:
      return std::make_unique<PictureUpload>();
    case Op::kPictureDownload:
      return std::make_unique<PictureDownload>();
  }
  return nullptr;
}

bool ReadObject(Emulator& emulator, const std::string& url, std::string& bytes) {
  CObjectClient client(emulator.ObjectConfig());
  char* buffer = nullptr;
  uint32_t length = 0;
  if (!client.DownloadFile(&buffer, length, url)) {
    return false;
  }
  bytes = TakeBuffer(buffer, length);
  return true;
}

bool ReadPicture(Emulator& emulator, const std::string& url, std::string& bytes) {
  CPictureClient client(emulator.PictureConfig());
  char* buffer = nullptr;
  uint32_t length = 0;
  if (!client.DownloadPicture(&buffer, length, url)) {
    return false;
  }
  bytes = TakeBuffer(buffer, length);
  return true;
}

}  // namespace orca_test
