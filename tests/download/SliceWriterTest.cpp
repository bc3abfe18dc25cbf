// The background writer of ranged downloads: slices land at their offsets
// while the caller goes on. A failed write is checked end to end (the
// ranged download to /dev/full).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "StorageClient/operations/SliceWriter.h"
#include "base/Encoding.h"

namespace Orca {
namespace CloudStorage {
namespace {

TEST(SliceWriterTest, WritesEachSliceAtItsOffset) {
  const std::string path =
      (std::filesystem::path(::testing::TempDir()) / ("slices_" + std::to_string(::getpid())))
          .string();
  {
    File::CLocalFile file;
    ASSERT_TRUE(file.Open(path, File::Access::kReadWrite, File::Disposition::kOpenAlways));
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

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
