// The background writer of ranged downloads: slices land at their offsets
// while the caller goes on, and a failed write is reported by Wait.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "StorageClient/SliceWriter.h"
#include "base/Encoding.h"

namespace Orca {
namespace CloudStorage {
namespace {

File::CLocalFile OpenForWriting(const std::string& path) {
  File::CLocalFile file;
  EXPECT_TRUE(
      file.Open(Base::UTF8ToWide(path), File::Access::kReadWrite, File::Disposition::kOpenAlways));
  return file;
}

TEST(SliceWriterTest, WritesEachSliceAtItsOffset) {
  const std::string path =
      (std::filesystem::path(::testing::TempDir()) / ("slices_" + std::to_string(::getpid())))
          .string();
  {
    File::CLocalFile file = OpenForWriting(path);
    CSliceWriter writer(file);
    EXPECT_TRUE(writer.Wait());  // nothing posted yet
    // Out of order, reusing one buffer after each wait as a ranged download
    // reuses its answers.
    for (const auto& [offset, text] :
         {std::pair<uint64_t, std::string>{6, "world"}, {0, "hello "}, {11, "!"}}) {
      std::string buffer = text;
      writer.Post(offset, buffer.data(), static_cast<uint32_t>(buffer.size()));
      ASSERT_TRUE(writer.Wait());
    }
  }
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "hello world!");
  std::filesystem::remove(path);
}

TEST(SliceWriterTest, FailedWriteIsReportedByWait) {
  File::CLocalFile file = OpenForWriting("/dev/full");
  CSliceWriter writer(file);
  const std::string slice(4096, 's');
  writer.Post(0, slice.data(), static_cast<uint32_t>(slice.size()));
  EXPECT_FALSE(writer.Wait());
  EXPECT_EQ(file.LastError(), ENOSPC);
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
