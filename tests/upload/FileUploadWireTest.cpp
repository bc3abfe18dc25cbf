// Whole-file uploads against the capture server: what is refused before any
// request, the object key's extension, and the requests of a multipart
// upload as sent.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "UploadCaptureTest.h"
#include "base/Encoding.h"
#include "file/LocalFile.h"

namespace Orca {
namespace CloudStorage {
namespace {

using orca_test::CapturedRequest;
using orca_test::kMiB;
using ::testing::ElementsAre;
using ::testing::Lt;
using ::testing::MatchesRegex;

using FileUploadWireTest = orca_test::UploadCaptureTest;

TEST_F(FileUploadWireTest, RefusedBeforeAnyRequest) {
  // A file opened for writing elsewhere holds an exclusive lock.
  const std::string locked = dir_.Write("locked.bin", "data");
  File::CLocalFile writer;
  ASSERT_TRUE(writer.Open(Base::UTF8ToWide(locked), File::Access::kReadWrite,
                          File::Disposition::kOpenExisting));
  const std::string huge = dir_.Path("huge.bin");
  dir_.Write("huge.bin", "");
  std::filesystem::resize_file(huge, uint64_t{4096} * kMiB);  // sparse
  const std::string missing = dir_.Path("missing.bin");

  struct Case {
    std::string path;
    int32_t code;
    std::string message;
    std::vector<int32_t> progress;  // a call that got past the open reports 100
  };
  const Case cases[] = {
      {"", 2, "file path is empty.", {}},
      {missing, 3, "open file[" + missing + "] failed[2].", {}},
      {dir_.Path(""), 3, "open file[" + dir_.Path("") + "] failed[21].", {}},
      {locked, 3, "open file[" + locked + "] failed[11].", {}},
      {huge, 3, "file[" + huge + "] size[4294967296] too large, 4 GiB or more.", {100}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const size_t reports = progress_.Values().size();
    std::string url = "untouched";
    EXPECT_FALSE(client_->UploadFile(url, c.path));
    EXPECT_EQ(url, "untouched");
    int32_t code = 0;
    EXPECT_EQ(Error(code), c.message);
    EXPECT_EQ(code, c.code);
    const std::vector<int32_t> values = progress_.Values();
    EXPECT_EQ(std::vector<int32_t>(values.begin() + reports, values.end()), c.progress);
  }
  EXPECT_TRUE(upload_.Requests().empty());
  EXPECT_TRUE(node_.Requests().empty());
  EXPECT_FALSE(std::filesystem::exists(missing)) << "a mistyped path must not be created";
}

TEST_F(FileUploadWireTest, FileShorterThanItsSizeIsNotUploaded) {
  // sysfs files claim a page but hold a few bytes: the read comes up short.
  const std::string path = "/sys/kernel/profiling";
  std::error_code error;
  if (std::filesystem::file_size(path, error) != 4096) {
    GTEST_SKIP() << "no sysfs";
  }
  ExpectBestNode();
  std::string url;
  EXPECT_FALSE(client_->UploadFile(url, path));
  int32_t code = 0;
  EXPECT_EQ(Error(code), "fread file[" + path + "] failed[61].");  // ENODATA
  EXPECT_EQ(code, 3);
  EXPECT_TRUE(node_.Requests().empty());
}

TEST_F(FileUploadWireTest, ObjectKeyKeepsTheFileExtension) {
  const struct {
    const char* name;
    const char* extension;
  } cases[] = {
      {"Movie.MP4", ".MP4"},
      {"dir/photo.jpg", ".jpg"},
      {"a.b/c", ""},
      {"archive.tar.gz", ".gz"},
      {"noext", ""},
      {"x.d\\readme", ""},
      {"win\\photo.png", ".png"},
      {".hidden", ".hidden"},
      {"trailing.", "."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectBestNode();
    std::string url;
    ASSERT_TRUE(client_->UploadFile(url, dir_.Write(c.name, "x")));
    std::string extension_pattern;
    for (const char ch : std::string(c.extension)) {
      extension_pattern += ch == '.' ? std::string("\\.") : std::string(1, ch);
    }
    EXPECT_THAT(url,
                MatchesRegex(std::string("/p1/") + orca_test::kGuidPattern + extension_pattern));
    EXPECT_EQ(node_.Requests().back().target, url);
  }
}

TEST_F(FileUploadWireTest, ReadOnlyFileOpenElsewhereUploadsInOnePut) {
  const std::string content = orca_test::RandomBytes(10 * kMiB - 1, 1);
  const std::string path = dir_.Write("ro.bin", content);
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  File::CLocalFile reader;  // readers share the lock
  ASSERT_TRUE(
      reader.Open(Base::UTF8ToWide(path), File::Access::kRead, File::Disposition::kOpenExisting));
  ExpectBestNode();
  std::string url;
  ASSERT_TRUE(client_->UploadFile(url, path));
  ASSERT_EQ(node_.Requests().size(), 1u);
  EXPECT_EQ(node_.Requests()[0].method, "PUT");
  EXPECT_TRUE(node_.Requests()[0].body == content);
  EXPECT_THAT(progress_.Values(), ElementsAre(100));
}

TEST_F(FileUploadWireTest, MultipartRequestsAsSent) {
  const std::string content = orca_test::RandomBytes(10 * kMiB + 1, 2);
  ExpectMultipart("U-wire");
  std::string url;
  ASSERT_TRUE(client_->UploadFile(url, dir_.Write("big.dat", content)));
  ASSERT_THAT(url, MatchesRegex(std::string("/p1/") + orca_test::kGuidPattern + "\\.dat"));

  const std::vector<CapturedRequest> upload = upload_.Requests();
  ASSERT_EQ(upload.size(), 3u);
  EXPECT_EQ(upload[1].target, url + "?uploads");
  const std::string completion = url + "?upload_id=U-wire";
  EXPECT_EQ(upload[2].target, completion);
  EXPECT_EQ(upload[2].Header("Authorization"),
            orca_test::ObjectAuthorization(upload[2], completion));
  std::string total;
  std::vector<orca_test::CompletedPart> listed;
  ASSERT_TRUE(orca_test::ParseCompletion(upload[2].body, total, listed));
  EXPECT_EQ(total, "6");

  // Six parts, each sent once, signed for its own query, reassembling the file.
  std::map<int, std::string> parts;
  for (const CapturedRequest& part : node_.Requests()) {
    const std::string prefix = url + "?upload_id=U-wire&part_number=";
    ASSERT_EQ(part.target.rfind(prefix, 0), 0u) << part.target;
    EXPECT_EQ(part.Header("Content-MD5"), orca_test::ContentMd5Of(part.body));
    EXPECT_EQ(part.Header("Authorization"), orca_test::ObjectAuthorization(part, part.target));
    EXPECT_TRUE(parts.emplace(std::stoi(part.target.substr(prefix.size())), part.body).second);
  }
  ASSERT_EQ(parts.size(), 6u);
  std::string joined;
  for (const auto& [number, body] : parts) {
    const size_t size = number < 6 ? 2 * kMiB : 1;
    EXPECT_EQ(body.size(), size) << number;
    EXPECT_EQ(listed[number - 1],
              (orca_test::CompletedPart{std::to_string(number), std::to_string(size), ""}));
    joined += body;
  }
  EXPECT_TRUE(joined == content);

  // Below 100 while parts are in flight, then one final 100.
  const std::vector<int32_t> values = progress_.Values();
  ASSERT_FALSE(values.empty());
  EXPECT_EQ(values.back(), 100);
  EXPECT_THAT(std::vector<int32_t>(values.begin(), values.end() - 1), ::testing::Each(Lt(100)));
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
