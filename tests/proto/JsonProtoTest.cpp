#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Repeat.h"
#include "proto/Proto.h"

namespace proto {
namespace {

// A member "a" holding `depth` nested arrays: kMaxJsonDepth counts the top
// object too.
std::string NestedArrays(size_t depth) {
  return "{\"a\":" + Repeat("[", depth) + Repeat("]", depth) + "}";
}

TEST(JsonProtoTest, ANewDocumentIsAnEmptyObject) {
  CRapidJsonProto doc;
  EXPECT_EQ(doc.get_str(0), "{}");
  EXPECT_EQ(doc.get_v("/Token", "absent"), "absent");
}

struct Write {
  std::string path;
  std::string value;
  bool accepted;
};

TEST(JsonProtoTest, WritesCreateMembersInOrder) {
  struct Case {
    const char* name;
    std::vector<Write> writes;
    std::string text;
  };
  const Case cases[] = {
      {"members in written order",
       {{"/GatewayIP", "10.0.0.1", true}, {"/Token", "t", true}},
       R"({"GatewayIP":"10.0.0.1","Token":"t"})"},
      {"missing objects are created", {{"/a/b/c", "x", true}}, R"({"a":{"b":{"c":"x"}}})"},
      {"overwrite replaces the value",
       {{"/a/b", "old", true}, {"/a/b", "new", true}, {"/a", "flat", true}},
       R"({"a":"flat"})"},
      {"indices build arrays",
       {{"/P[1]/N", "1", true},
        {"/Q", "q", true},
        {"/P[2]/N", "2", true},
        {"/P[1]/M", "m", true},
        {"/L[1]", "x", true},
        {"/L[2]", "y", true}},
       R"({"P":[{"N":"1","M":"m"},{"N":"2"}],"Q":"q","L":["x","y"]})"},
      {"index beyond the next element is refused",
       {{"/L[1]", "x", true},
        {"/L[3]", "z", false},
        {"/M[2]", "z", false},
        {"/N[1]/O[2]", "z", false}},
       R"({"L":["x"]})"},
      {"no writing through a value that is not an object or array",
       {{"/s", "text", true},
        {"/s/x", "v", false},
        {"/s[1]", "v", false},
        {"/L[1]", "x", true},
        {"/L/x", "v", false}},
       R"({"s":"text","L":["x"]})"},
      {"special characters are escaped",
       {{"/k\"ey", "q\"b\\s/\n\t\x01", true}},
       R"({"k\"ey":"q\"b\\s/\n\t\u0001"})"},
  };
  for (const Case& c : cases) {
    CRapidJsonProto doc;
    for (const Write& w : c.writes) {
      EXPECT_EQ(doc.set_v(w.path, w.value), w.accepted) << c.name << ": " << w.path;
    }
    EXPECT_EQ(doc.get_str(0), c.text) << c.name;
  }
}

TEST(JsonProtoTest, WholeNumbersAreNumbers) {
  CRapidJsonProto doc;
  ASSERT_TRUE(doc.set_v("/GatewayPort", int64_t{8080}));
  ASSERT_TRUE(doc.set_v("/Min", INT64_MIN));
  EXPECT_EQ(doc.get_str(0), R"({"GatewayPort":8080,"Min":-9223372036854775808})");
  EXPECT_EQ(doc.get_v("/GatewayPort", ""), "8080");
  EXPECT_EQ(doc.get_v("/Min", ""), "-9223372036854775808");
}

TEST(JsonProtoTest, ReadsValuesAsText) {
  CRapidJsonProto doc;
  ASSERT_TRUE(doc.set_str(R"({
    "GatewayIP": "192.168.1.20", "GatewayPort": 8080, "Token": "tok",
    "Neg": -3, "Big": 18446744073709551615, "Frac": 0.1, "Exp": 2.5e-7, "Real": 8080.0,
    "True": true, "False": false, "Null": null,
    "Obj": {"k": "v", "n": 1}, "List": [{"k": "a1"}, "x", 3], "Empty": "",
    "Esc": "a\"b\\c\u00e9\n\u0000z", "PictureUrl": "/pool/k.jpg?x=1&y=2"
  })"));
  struct Case {
    const char* path;
    std::string value;
  };
  const Case cases[] = {
      {"/GatewayIP", "192.168.1.20"},
      {"/GatewayPort", "8080"},
      {"/Token", "tok"},
      {"/Neg", "-3"},
      {"/Big", "18446744073709551615"},
      {"/Frac", "0.1"},
      {"/Exp", "2.5e-7"},
      {"/Real", "8080.0"},
      {"/True", "true"},
      {"/False", "false"},
      {"/Null", "absent"},
      {"/Obj", "absent"},
      {"/Obj/k", "v"},
      {"/Obj/n", "1"},
      {"/Obj/k/deeper", "absent"},
      {"/List", "absent"},
      {"/List[1]/k", "a1"},
      {"/List[2]", "x"},
      {"/List[3]", "3"},
      {"/List[4]", "absent"},
      {"/List/k", "absent"},
      {"/Token[1]", "absent"},
      {"/Empty", ""},
      {"/Esc", std::string("a\"b\\c\xc3\xa9\n\0z", 10)},
      {"/PictureUrl", "/pool/k.jpg?x=1&y=2"},
      {"/Missing", "absent"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(doc.get_v(c.path, "absent"), c.value) << c.path;
  }
}

TEST(JsonProtoTest, TextRoundTripsThroughTheDocumentText) {
  const std::string values[] = {
      "plain", "", "q\"b\\s", std::string("nul\0byte", 8), "caf\xc3\xa9", "\x01\x1f", "</script>",
  };
  for (const std::string& value : values) {
    CRapidJsonProto doc;
    ASSERT_TRUE(doc.set_v("/v", value));
    CRapidJsonProto parsed;
    ASSERT_TRUE(parsed.set_str(doc.get_str(0))) << doc.get_str(0);
    EXPECT_EQ(parsed.get_v("/v", "absent"), value);
    EXPECT_EQ(parsed.get_str(1), doc.get_str(1));
  }
}

TEST(JsonProtoTest, HostileInputIsRefusedOrReadSafely) {
  struct Case {
    const char* name;
    std::string text;
    bool accepted;
    const char* path;   // read after parsing, when accepted
    std::string value;  // expected at path
  };
  const Case cases[] = {
      {"empty", "", false, "", ""},
      {"not JSON", "NotEnoughSpace", false, "", ""},
      {"truncated", R"({"a":1)", false, "", ""},
      {"truncated string", R"({"a":"x)", false, "", ""},
      {"array at the top", "[1,2]", false, "", ""},
      {"string at the top", R"("text")", false, "", ""},
      {"number at the top", "42", false, "", ""},
      {"null at the top", "null", false, "", ""},
      {"trailing text", R"({"a":1} x)", false, "", ""},
      {"two objects", "{}{}", false, "", ""},
      {"comment", R"({/* c */"a":1})", false, "", ""},
      {"trailing comma", R"({"a":1,})", false, "", ""},
      {"NaN", R"({"a":NaN})", false, "", ""},
      {"number too big", R"({"a":1e999999})", false, "", ""},
      {"NUL byte", std::string("{\"a\":1}\0", 8), false, "", ""},
      {"invalid UTF-8", "{\"a\":\"\xff\xfe\"}", false, "", ""},
      {"overlong UTF-8", "{\"a\":\"\xc0\xaf\"}", false, "", ""},
      {"lone surrogate escape", R"({"a":"\ud800"})", false, "", ""},
      {"over the size limit", "{\"a\":\"" + std::string(kMaxDocumentBytes, 'x') + "\"}", false, "",
       ""},
      {"nesting at the limit", NestedArrays(kMaxJsonDepth - 1), true, "/b", "absent"},
      {"nesting over the limit", NestedArrays(kMaxJsonDepth), false, "", ""},
      {"very deep nesting", NestedArrays(1000000), false, "", ""},
      {"deep unclosed nesting", "{\"a\":" + Repeat("[", 1000000), false, "", ""},
      {"duplicate members: the first counts", R"({"a":"1","a":"2"})", true, "/a", "1"},
      {"integer too big for a double", R"({"a":)" + std::string(400, '9') + "}", false, "", ""},
      {"long fraction", R"({"a":0.)" + std::string(100000, '1') + "}", true, "/a",
       "0.1111111111111111"},
      {"long integer", R"({"a":)" + std::string(300, '1') + "}", true, "/a",
       "1.1111111111111112e299"},
  };
  for (const Case& c : cases) {
    CRapidJsonProto doc;
    ASSERT_TRUE(doc.set_str(R"({"Old":"kept?"})"));
    EXPECT_EQ(doc.set_str(c.text), c.accepted) << c.name;
    doc.get_str(0);
    if (c.accepted) {
      EXPECT_EQ(doc.get_v(c.path, "absent"), c.value) << c.name;
    } else {
      EXPECT_EQ(doc.get_v("/Old", "absent"), "absent") << c.name;
      EXPECT_EQ(doc.get_str(0), "{}") << c.name;
    }
  }
}

}  // namespace
}  // namespace proto
