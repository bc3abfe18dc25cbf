#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <string>

#include "base/Encoding.h"
#include "base/Guid.h"
#include "base/StrFmt.h"
#include "base/Vek.h"
#include "file/LocalFile.h"

namespace Orca {
namespace {

// xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx, lower-case hex, y one of 8 9 a b.
bool IsVersion4Guid(const std::string& text) {
  if (text.size() != 36 || text[14] != '4' ||
      std::string("89ab").find(text[19]) == std::string::npos) {
    return false;
  }
  for (size_t i = 0; i < text.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    const bool hex = std::string("0123456789abcdef").find(text[i]) != std::string::npos;
    if (dash ? text[i] != '-' : !hex) return false;
  }
  return true;
}

TEST(GuidTest, Version4TextAndUnique) {
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    const std::string guid = Base::CreateGuid();
    ASSERT_TRUE(IsVersion4Guid(guid)) << guid;
    seen.insert(guid);
  }
  EXPECT_EQ(seen.size(), 1000u);
}

TEST(EncodingTest, WideRoundTripIsLossless) {
  const std::string cases[] = {"",
                               "plain/path.txt",
                               "caf\xc3\xa9/\xe6\x97\xa5\xe6\x9c\xac.jpg",
                               "\xf0\x9f\x98\x80",
                               "bad\xff\xfe bytes",
                               "truncated \xe6\x97",
                               "overlong \xc0\xaf",
                               "surrogate \xed\xa0\x80"};
  for (const std::string& text : cases) {
    EXPECT_EQ(Base::WideToUTF8(Base::UTF8ToWide(text)), text);
  }
  EXPECT_EQ(Base::UTF8ToWide("caf\xc3\xa9"), L"caf\u00e9");
  EXPECT_EQ(Base::UTF8ToWide("\xf0\x9f\x98\x80").size(), 1u);
}

TEST(EncodingTest, Base64) {
  struct Case {
    std::string in;
    const char* out;
  };
  for (const Case& c : {Case{"", ""}, Case{"f", "Zg=="}, Case{"fo", "Zm8="}, Case{"foo", "Zm9v"},
                        Case{"foobar", "Zm9vYmFy"}, Case{std::string("\0\xff", 2), "AP8="}}) {
    std::string out = "stale";
    EXPECT_TRUE(Base::Encrypt::Base64Encode(reinterpret_cast<const unsigned char*>(c.in.data()),
                                            c.in.size(), out));
    EXPECT_EQ(out, c.out);
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

class LocalFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/orca-file-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }
  std::wstring Path(const std::string& name) const { return Base::UTF8ToWide(dir_ + "/" + name); }

  std::string dir_;
};

TEST_F(LocalFileTest, OpenExistingFailsForAMissingFile) {
  File::CLocalFile file;
  EXPECT_FALSE(file.Open(Path("missing"), File::Access::kRead, File::Disposition::kOpenExisting));
  EXPECT_EQ(file.LastError(), ENOENT);
  EXPECT_FALSE(file.Open(Path(""), File::Access::kRead, File::Disposition::kOpenExisting));
}

TEST_F(LocalFileTest, WriteReadSizeTruncate) {
  File::CLocalFile file;
  ASSERT_TRUE(
      file.Open(Path("f\xc3\xa9.bin"), File::Access::kReadWrite, File::Disposition::kOpenAlways));
  uint32_t done = 0;
  ASSERT_TRUE(file.Write("hello world", 11, done));
  EXPECT_EQ(done, 11u);
  ASSERT_TRUE(file.WriteAt(20, "X", 1, done));
  uint64_t size = 0;
  ASSERT_TRUE(file.Size(size));
  EXPECT_EQ(size, 21u);
  ASSERT_TRUE(file.Truncate(5));
  file.Close();

  ASSERT_TRUE(
      file.Open(Path("f\xc3\xa9.bin"), File::Access::kRead, File::Disposition::kOpenExisting));
  char buffer[16] = {};
  ASSERT_TRUE(file.Read(buffer, sizeof(buffer), done));
  EXPECT_EQ(std::string(buffer, done), "hello");
}

TEST_F(LocalFileTest, WriterExcludesOthersReadersShare) {
  File::CLocalFile writer;
  ASSERT_TRUE(
      writer.Open(Path("locked"), File::Access::kReadWrite, File::Disposition::kOpenAlways));
  File::CLocalFile other;
  EXPECT_FALSE(other.Open(Path("locked"), File::Access::kRead, File::Disposition::kOpenExisting));
  EXPECT_EQ(other.LastError(), EWOULDBLOCK);
  writer.Close();

  File::CLocalFile reader1;
  File::CLocalFile reader2;
  ASSERT_TRUE(reader1.Open(Path("locked"), File::Access::kRead, File::Disposition::kOpenExisting));
  EXPECT_TRUE(reader2.Open(Path("locked"), File::Access::kRead, File::Disposition::kOpenExisting));
  EXPECT_FALSE(
      writer.Open(Path("locked"), File::Access::kReadWrite, File::Disposition::kOpenAlways));
}

TEST_F(LocalFileTest, DirectoriesAreRefused) {
  File::CLocalFile file;
  EXPECT_FALSE(
      file.Open(Base::UTF8ToWide(dir_), File::Access::kRead, File::Disposition::kOpenExisting));
  EXPECT_EQ(file.LastError(), EISDIR);
}

}  // namespace
}  // namespace Orca
