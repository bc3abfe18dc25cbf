#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Repeat.h"
#include "proto/DocPath.h"
#include "proto/Proto.h"

namespace proto {
namespace {

const std::vector<std::string>& MalformedPaths() {
  static const std::vector<std::string> paths = {
      "",
      "Root",
      "Root/Leaf",
      "/",
      "//",
      "/Root/",
      "/Root//Leaf",
      "/Root[0]",
      "/Root[00]",
      "/Root[x]",
      "/Root[1x]",
      "/Root[-1]",
      "/Root[+1]",
      "/Root[ 1]",
      "/Root[]",
      "/Root[",
      "/Root[1",
      "/Root]",
      "/Root[1]]",
      "/Root[[1]",
      "/Root[1]x",
      "/Root[1][2]",
      "/[1]",
      "/Root[4294967296]",  // does not fit 32 bits
      std::string("/Ro\0ot", 6),
      Repeat("/a", kMaxPathSegments + 1),
  };
  return paths;
}

TEST(DocPathTest, SplitsSegmentsAndIndices) {
  struct Case {
    std::string path;
    std::vector<PathSegment> segments;
  };
  const Case cases[] = {
      {"/Root", {{"Root", 1, false}}},
      {"/Root/Leaf", {{"Root", 1, false}, {"Leaf", 1, false}}},
      {"/A/Part[12]/ETag", {{"A", 1, false}, {"Part", 12, true}, {"ETag", 1, false}}},
      {"/Part[1]", {{"Part", 1, true}}},
      {"/Part[007]", {{"Part", 7, true}}},
      {"/Part[4294967295]", {{"Part", 4294967295u, true}}},
      {"/with space/x-y.z:w", {{"with space", 1, false}, {"x-y.z:w", 1, false}}},
  };
  for (const Case& c : cases) {
    const auto parsed = ParsePath(c.path);
    ASSERT_TRUE(parsed.has_value()) << c.path;
    ASSERT_EQ(parsed->size(), c.segments.size()) << c.path;
    for (size_t i = 0; i < c.segments.size(); ++i) {
      EXPECT_EQ((*parsed)[i].name, c.segments[i].name) << c.path;
      EXPECT_EQ((*parsed)[i].index, c.segments[i].index) << c.path;
      EXPECT_EQ((*parsed)[i].indexed, c.segments[i].indexed) << c.path;
    }
  }
  EXPECT_TRUE(ParsePath(Repeat("/a", kMaxPathSegments)).has_value());
}

TEST(DocPathTest, RefusesMalformedPaths) {
  for (const std::string& path : MalformedPaths()) {
    EXPECT_FALSE(ParsePath(path).has_value()) << path;
  }
}

// Both document kinds treat a malformed path as absent, and refuse to write
// through it without touching the document.
template <typename Doc>
class MalformedPathTest : public ::testing::Test {};

using DocTypes = ::testing::Types<CXmlProto, CRapidJsonProto>;
TYPED_TEST_SUITE(MalformedPathTest, DocTypes);

TYPED_TEST(MalformedPathTest, ReadsAsDefaultAndWritesNothing) {
  TypeParam doc;
  ASSERT_TRUE(doc.set_v("/Root", "value"));
  const std::string before = doc.get_str(0);
  for (const std::string& path : MalformedPaths()) {
    EXPECT_EQ(doc.get_v(path, "absent"), "absent") << path;
    EXPECT_FALSE(doc.set_v(path, "text")) << path;
    EXPECT_FALSE(doc.set_v(path, int64_t{7})) << path;
    EXPECT_EQ(doc.get_str(0), before) << path;
  }
}

}  // namespace
}  // namespace proto
