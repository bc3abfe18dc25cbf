#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <set>
#include <string>
#include <utility>

#include "base/Encoding.h"
#include "base/Guid.h"
#include "base/StrFmt.h"
#include "file/LocalFile.h"
#include "safefunc/SafeFunc.h"

namespace Orca {
namespace {

TEST(GuidTest, Version4TextAndUnique) {
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    const std::string guid = Base::CreateGuid();
    ASSERT_THAT(guid,
                ::testing::MatchesRegex("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-"
                                        "[0-9a-f]{12}"));
    seen.insert(guid);
  }
  EXPECT_EQ(seen.size(), 1000u);
}

TEST(EncodingTest, Base64) {
  const std::pair<std::string, const char*> cases[] = {{"", ""},
                                                       {"f", "Zg=="},
                                                       {"fo", "Zm8="},
                                                       {"foobar", "Zm9vYmFy"},
                                                       {std::string("\0\xff", 2), "AP8="}};
  for (const auto& [in, out] : cases) {
    std::string encoded = "stale";
    EXPECT_TRUE(Base::Encrypt::Base64Encode(reinterpret_cast<const unsigned char*>(in.data()),
                                            in.size(), encoded));
    EXPECT_EQ(encoded, out);
  }
}

TEST(StrFmtTest, Formats) {
  EXPECT_EQ(Base::str_fmt("[%d:%d]", 3, 7), "[3:7]");
  EXPECT_EQ(Base::str_fmt("%s", std::string(10000, 'x').c_str()).size(), 10000u);
  EXPECT_EQ(Base::str_fmt("%s", ""), "");
}

TEST(VekTest, MemsetChecksItsArguments) {
  char buffer[8] = {1, 1, 1, 1, 1, 1, 1, 1};
  EXPECT_EQ(VEK_Memset_s(buffer, sizeof(buffer), 0, sizeof(buffer)), 0);
  EXPECT_EQ(buffer[7], 0);
  EXPECT_NE(VEK_Memset_s(buffer, 4, 1, 8), 0);
  EXPECT_EQ(buffer[0], 0) << "nothing written on failure";
  EXPECT_NE(VEK_Memset_s(nullptr, 8, 0, 8), 0);
}

// Readers share a file and a writer excludes everyone. Open, read, write
// and truncate failures are covered end to end by the upload and download
// tests.
TEST(LocalFileTest, ReadersShareAWriterExcludesOthers) {
  // Any bytes the file system takes, valid UTF-8 or not.
  const std::string name = ::testing::TempDir() + "orca-lock-\xff-" + std::to_string(getpid());
  const std::string& path = name;
  const auto open = [&path](File::CLocalFile& file, File::Access access) {
    return file.Open(path, access, File::Disposition::kOpenAlways);
  };
  File::CLocalFile writer;
  File::CLocalFile reader1;
  File::CLocalFile reader2;
  ASSERT_TRUE(open(writer, File::Access::kReadWrite));
  EXPECT_FALSE(open(reader1, File::Access::kRead));
  EXPECT_EQ(reader1.LastError(), EWOULDBLOCK);
  writer.Close();
  ASSERT_TRUE(open(reader1, File::Access::kRead));
  EXPECT_TRUE(open(reader2, File::Access::kRead));
  EXPECT_FALSE(open(writer, File::Access::kReadWrite));
  std::remove(name.c_str());
}

}  // namespace
}  // namespace Orca
