// Whole-file uploads through the emulator, each object read back and
// compared: the boundary sizes, part failures, the object key and the files
// refused before any request.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "StorageClient/PartTaskRegistry.h"
#include "UploadTestUtil.h"
#include "base/Encoding.h"
#include "file/LocalFile.h"

namespace Orca {
namespace CloudStorage {
namespace {

using orca_test::EmulatorRequest;
using orca_test::kMiB;
using UploadE2eTest = orca_test::UploadTest;

// The registry keeps nothing of an upload whose call has ended: a part
// registered again under its id counts from scratch.
void ExpectForgotten(const std::string& task_id) {
  CPartTaskRegistry& registry = CPartTaskRegistry::GetInstance();
  SPartTaskInfo part;
  part.part_number = 1;
  part.part_count = 2;
  registry.RegisterPart(task_id, part);
  part.finished = true;
  registry.MarkPartDone(task_id, part);
  uint32_t failed = 0;
  int32_t percent = 0;
  EXPECT_TRUE(registry.QueryUpload(failed, percent, task_id));
  EXPECT_EQ(percent, 50);
  registry.DropUpload(task_id);
}

TEST_F(UploadE2eTest, FilesOfBoundarySizesReadBackIdentical) {
  const struct {
    uint32_t size;
    size_t parts;  // 0: one PUT
  } cases[] = {
      {0, 0}, {10 * kMiB - 1, 0}, {10 * kMiB, 5}, {10 * kMiB + 1, 6}, {100 * kMiB, 50},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    emulator_.ClearJournal();
    // Read-only, and held open by a reader: readers share the lock.
    const std::string content = orca_test::RandomBytes(c.size, c.size);
    const std::string path = Write("f" + std::to_string(c.size), content);
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    File::CLocalFile reader;
    ASSERT_TRUE(
        reader.Open(Base::UTF8ToWide(path), File::Access::kRead, File::Disposition::kOpenExisting));
    std::string url;
    ASSERT_TRUE(client_.UploadFile(url, path));
    EXPECT_TRUE(Stored(url) == content);

    const std::vector<EmulatorRequest> sent = SentTo("node");
    ASSERT_EQ(sent.size(), std::max<size_t>(c.parts, 1));
    for (const EmulatorRequest& request : sent) {
      const size_t number = PartNumber(request);  // part n holds the n-th 2 MiB
      EXPECT_EQ(
          request.body_length,
          number == 0 ? c.size : std::min<uint64_t>(2 * kMiB, c.size - (number - 1) * 2 * kMiB))
          << number;
    }
    if (c.parts != 0) {
      // The emulator checks the completion's part count and sizes against the parts.
      const EmulatorRequest completion = SentTo("upload").back();
      ASSERT_EQ(completion.query.rfind("upload_id=", 0), 0u);
      EXPECT_EQ(completion.status, 200);
      ExpectForgotten(completion.query.substr(10));
    }
    // Below 100 while parts are in flight, then one final 100; a single
    // request reports only the 100.
    std::vector<int32_t> values = TakeProgress();
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(values.back(), 100);
    values.pop_back();
    EXPECT_THAT(values, ::testing::Each(::testing::Lt(100)));
    EXPECT_TRUE(c.parts != 0 || values.empty());
  }
  EXPECT_EQ(emulator_.OpenUploads(), 0u);
}

TEST_F(UploadE2eTest, PartFailures) {
  const std::string content = orca_test::RandomBytes(11 * kMiB, 11);  // 6 parts
  const std::string path = Write("parts.bin", content);
  const struct {
    const char* fault;  // on every attempt at part 3, up to its count
    int32_t code;       // 0: the upload succeeds
    const char* message;
  } cases[] = {
      {R"("kind":"status","count":1)", 0, ""},  // the second attempt succeeds
      {R"("kind":"status","count":3)", 5, "UploadPartObject rsp status code[500]."},
      {R"("kind":"not_enough_space","count":3)", 7, "upload object rsp status code[500]."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    emulator_.ClearJournal();
    AddFault(std::string(R"("role":"node","path":"*&part_number=3","status":500,)") + c.fault);
    std::string url = "untouched";
    EXPECT_EQ(client_.UploadFile(url, path), c.code == 0);
    const std::vector<size_t> parts = PartsSent();
    EXPECT_EQ(std::count(parts.begin(), parts.end(), size_t{3}), c.code == 0 ? 2 : 3) << "attempts";
    if (c.code == 0) {
      EXPECT_TRUE(Stored(url) == content);
    } else {
      EXPECT_EQ(url, "untouched");
      EXPECT_EQ(SentTo("upload").back().query, "uploads") << "no completion after a failed part";
      EXPECT_EQ(LastError(), std::make_pair(c.code, std::string(c.message)));
      EXPECT_EQ(TakeProgress().back(), 100);
    }
    emulator_.ClearFaults();
  }
}

TEST_F(UploadE2eTest, ObjectKeyKeepsTheFileExtension) {
  const std::pair<const char*, const char*> cases[] = {
      {"Movie.MP4", "\\.MP4"},
      {"dir/photo.jpg", "\\.jpg"},
      {"a.b/c", ""},
      {"archive.tar.gz", "\\.gz"},
      {"noext", ""},
      {"x.d\\readme", ""},
      {"win\\photo.png", "\\.png"},
      {".hidden", "\\.hidden"},
      {"trailing.", "\\."},
  };
  for (const auto& [name, extension] : cases) {
    SCOPED_TRACE(name);
    std::string url;
    ASSERT_TRUE(client_.UploadFile(url, Write(name, "x")));
    EXPECT_THAT(
        url, ::testing::MatchesRegex(std::string("/pool1/") + orca_test::kGuidPattern + extension));
  }
}

TEST_F(UploadE2eTest, RefusedBeforeAnyRequest) {
  // A file opened for writing elsewhere holds an exclusive lock.
  const std::string locked = Write("locked.bin", "data");
  File::CLocalFile writer;
  ASSERT_TRUE(writer.Open(Base::UTF8ToWide(locked), File::Access::kReadWrite,
                          File::Disposition::kOpenExisting));
  const std::string huge = Write("huge.bin", "");
  std::filesystem::resize_file(huge, uint64_t{4096} * kMiB);  // sparse
  const std::string missing = Path("missing.bin");
  const struct {
    std::string path;
    int32_t code;
    std::string message;
    std::vector<int32_t> progress;  // a call that got past the open reports 100
  } cases[] = {
      {"", 2, "file path is empty.", {}},
      {missing, 3, "open file[" + missing + "] failed[2].", {}},
      {Path(""), 3, "open file[" + Path("") + "] failed[21].", {}},
      {locked, 3, "open file[" + locked + "] failed[11].", {}},
      {huge, 3, "file[" + huge + "] size[4294967296] too large, 4 GiB or more.", {100}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    std::string url = "untouched";
    EXPECT_FALSE(client_.UploadFile(url, c.path));
    EXPECT_EQ(url, "untouched");
    EXPECT_EQ(LastError(), std::make_pair(c.code, c.message));
    EXPECT_EQ(TakeProgress(), c.progress);
  }
  EXPECT_TRUE(emulator_.Journal().empty());
  EXPECT_FALSE(std::filesystem::exists(missing)) << "a mistyped path must not be created";
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
