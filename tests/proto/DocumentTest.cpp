// The document component: writes and reads by path, text round trips, and
// hostile input, for XML (pugixml) and JSON (RapidJSON).
#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "proto/DocPath.h"
#include "proto/Proto.h"

namespace proto {
namespace {

std::string Repeat(const std::string& piece, size_t times) {
  std::string text;
  for (size_t i = 0; i < times; ++i) text += piece;
  return text;
}

struct Write {
  std::string path;
  std::string value;
  bool accepted;
};

struct WriteCase {
  const char* name;
  std::vector<Write> writes;
  std::string text;  // the compact document afterwards
};

// Applies each case's writes to a new document.
template <typename Doc>
void ExpectWrites(const std::vector<WriteCase>& cases) {
  for (const WriteCase& c : cases) {
    Doc doc;
    for (const Write& w : c.writes) {
      EXPECT_EQ(doc.set_v(w.path, w.value), w.accepted) << c.name << ": " << w.path;
    }
    EXPECT_EQ(doc.get_str(0), c.text) << c.name;
  }
}

struct Read {
  const char* path;
  std::string value;  // "absent": the default
};

template <typename Doc>
void ExpectReads(const std::string& text, const std::vector<Read>& reads) {
  Doc doc;
  ASSERT_TRUE(doc.set_str(text));
  for (const Read& r : reads) EXPECT_EQ(doc.get_v(r.path, "absent"), r.value) << r.path;
}

struct Refused {
  const char* name;
  std::string text;
};

struct Accepted {
  const char* name;
  std::string text;
  const char* path;   // read after parsing
  std::string value;  // expected there
};

// Each refused text leaves the document empty, whatever it held before;
// each accepted one reads as expected.
template <typename Doc>
void ExpectHostile(const std::string& before, const std::vector<Refused>& refused,
                   const std::vector<Accepted>& accepted) {
  const std::string empty = Doc().get_str(0);
  for (const Refused& c : refused) {
    Doc doc;
    ASSERT_TRUE(doc.set_str(before));
    EXPECT_FALSE(doc.set_str(c.text)) << c.name;
    EXPECT_EQ(doc.get_str(0), empty) << c.name;
  }
  for (const Accepted& c : accepted) {
    Doc doc;
    EXPECT_TRUE(doc.set_str(c.text)) << c.name;
    doc.get_str(0);
    EXPECT_EQ(doc.get_v(c.path, "absent"), c.value) << c.name;
  }
}

// --- Both kinds ---

template <typename Doc>
class DocumentTest : public ::testing::Test {};

using DocTypes = ::testing::Types<CXmlProto, CRapidJsonProto>;
TYPED_TEST_SUITE(DocumentTest, DocTypes);

TYPED_TEST(DocumentTest, MalformedPathsReadAsDefaultAndWriteNothing) {
  std::vector<std::string> paths = {"",          "Root",        "/",         "//",
                                    "/Root/",    "/Root//Leaf", "/Root[0]",  "/Root[00]",
                                    "/Root[x]",  "/Root[-1]",   "/Root[+1]", "/Root[ 1]",
                                    "/Root[]",   "/Root[1",     "/Root]",    "/Root[1]]",
                                    "/Root[1]x", "/Root[1][2]", "/[1]",      "/Root[4294967296]"};
  paths.emplace_back("/Ro\0ot", 6);
  paths.push_back(Repeat("/a", kMaxPathSegments + 1));
  TypeParam doc;
  ASSERT_TRUE(doc.set_v("/Root", "value"));
  const std::string before = doc.get_str(0);
  for (const std::string& path : paths) {
    EXPECT_EQ(doc.get_v(path, "absent"), "absent") << path;
    EXPECT_FALSE(doc.set_v(path, "text")) << path;
    EXPECT_FALSE(doc.set_v(path, int64_t{7})) << path;
    EXPECT_EQ(doc.get_str(0), before) << path;
  }
}

// Values are escaped on the way out and read back as written, from the
// compact and the indented text alike.
TYPED_TEST(DocumentTest, ValuesRoundTripThroughTheText) {
  const std::string texts[] = {"a&b",     "<tag>",     "]]>",
                               "&amp;",   "q\"b\\s'/", "tab\tnl\n",
                               "ctl\x01", "  pad  ",   "caf\xc3\xa9 \xe2\x82\xac"};
  const int64_t numbers[] = {0, -1, 2097152, INT64_MAX, INT64_MIN};
  TypeParam doc;
  for (size_t i = 0; i < std::size(texts); ++i) {
    ASSERT_TRUE(doc.set_v("/Doc/T[" + std::to_string(i + 1) + "]", texts[i])) << texts[i];
  }
  for (size_t i = 0; i < std::size(numbers); ++i) {
    ASSERT_TRUE(doc.set_v("/Doc/N[" + std::to_string(i + 1) + "]", numbers[i]));
  }
  for (const int flags : {0, 1}) {
    TypeParam parsed;
    ASSERT_TRUE(parsed.set_str(doc.get_str(flags))) << doc.get_str(flags);
    for (size_t i = 0; i < std::size(texts); ++i) {
      EXPECT_EQ(parsed.get_v("/Doc/T[" + std::to_string(i + 1) + "]", "absent"), texts[i]);
    }
    for (size_t i = 0; i < std::size(numbers); ++i) {
      EXPECT_EQ(parsed.get_v("/Doc/N[" + std::to_string(i + 1) + "]", ""),
                std::to_string(numbers[i]));
    }
    EXPECT_EQ(parsed.get_str(0), doc.get_str(0));
  }
  EXPECT_NE(doc.get_str(1), doc.get_str(0));
}

// --- XML ---

TEST(XmlProtoTest, WritesCreateElementsInOrder) {
  ExpectWrites<CXmlProto>({
      {"leaf with ancestors", {{"/A/B/C", "1", true}}, "<A><B><C>1</C></B></A>"},
      {"siblings in written order",
       {{"/A/Z", "z", true}, {"/A/B/C", "c", true}, {"/A/Y", "y", true}},
       "<A><Z>z</Z><B><C>c</C></B><Y>y</Y></A>"},
      {"overwrite keeps one element",
       {{"/A/B", "old", true}, {"/A/B", "new", true}, {"/A/B[1]", "newer", true}},
       "<A><B>newer</B></A>"},
      {"indexed siblings append",
       {{"/A/P[1]/N", "1", true},
        {"/A/Q", "q", true},
        {"/A/P[2]/N", "2", true},
        {"/A/P[1]/M", "m", true}},
       "<A><P><N>1</N><M>m</M></P><Q>q</Q><P><N>2</N></P></A>"},
      {"index beyond the next sibling is refused",
       {{"/A/P[1]", "1", true}, {"/A/P[3]", "3", false}, {"/A/X[2]/Y", "y", false}},
       "<A><P>1</P></A>"},
      {"new element below a new indexed one must be the first",
       {{"/A/B", "b", true}, {"/A/P[1]/N[2]", "n", false}},
       "<A><B>b</B></A>"},
      {"a single root",
       {{"/A", "a", true}, {"/Other", "o", false}, {"/A[2]", "a2", false}},
       "<A>a</A>"},
      {"names must be XML names",
       {{"/A/1x", "v", false}, {"/A/b c", "v", false}, {"/A/x-y.z", "v", true}},
       "<A><x-y.z>v</x-y.z></A>"},
      {"NUL in the value is refused", {{"/A", std::string("a\0b", 3), false}}, ""},
  });
}

TEST(XmlProtoTest, ReadsTextByPath) {
  ExpectReads<CXmlProto>(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<R>\n  <Location>10.0.0.1:8080</Location>\n  <B><C>deep</C></B>\n"
      "  <P><N>1</N></P><P><N>2</N></P>\n  <E/>\n"
      "  <M>a<![CDATA[<b>&]]>c<!-- note -->d</M><W> sp </W><Esc>&lt;&amp;&gt;&quot;&#65;</Esc>\n"
      "  <A attr=\"x\">attributed</A>\n</R>",
      {{"/R/Location", "10.0.0.1:8080"},
       {"/R/B/C", "deep"},
       {"/R/P/N", "1"},
       {"/R/P[2]/N", "2"},
       {"/R/P[3]/N", "absent"},
       {"/R/E", ""},
       {"/R/M", "a<b>&cd"},
       {"/R/W", " sp "},
       {"/R/Esc", "<&>\"A"},
       {"/R/A", "attributed"},
       {"/R/Location/Deeper", "absent"},
       {"/R[2]/Location", "absent"}});
}

TEST(XmlProtoTest, HostileInputIsRefusedOrReadSafely) {
  const size_t kDeep = 100000;
  ExpectHostile<CXmlProto>(
      "<Old>kept?</Old>",
      {
          {"empty", ""},
          {"not XML", "NotEnoughSpace"},
          {"truncated", "<R><A>x</A>"},
          {"two roots", "<A/><B/>"},
          {"mismatched", "<A></B>"},
          {"NUL byte", std::string("<A>x\0y</A>", 10)},
          {"over the size limit", "<A>" + std::string(kMaxDocumentBytes, 'x') + "</A>"},
          {"deep unclosed nesting", Repeat("<a>", kDeep)},
          {"deep DOCTYPE", "<!DOCTYPE a [" + Repeat("<![", kDeep)},
      },
      {
          {"deep nesting", Repeat("<a>", kDeep) + "x" + Repeat("</a>", kDeep), "/a/a/a", ""},
          {"billion laughs",
           "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">"
           "<!ENTITY lol2 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">"
           "<!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">]>"
           "<lolz>&lol3;</lolz>",
           "/lolz", "&lol3;"},
          {"external entity",
           "<!DOCTYPE r [<!ENTITY xxe SYSTEM \"file:///etc/passwd\">]><r>&xxe;</r>", "/r", "&xxe;"},
          {"invalid UTF-8 passes through as bytes", "<A>\xff\xfe\xc3</A>", "/A", "\xff\xfe\xc3"},
      });
}

// --- JSON ---

TEST(JsonProtoTest, WritesCreateMembersInOrder) {
  ExpectWrites<CRapidJsonProto>({
      {"a new document is an empty object", {}, "{}"},
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
       {{"/L[1]", "x", true}, {"/L[3]", "z", false}, {"/N[1]/O[2]", "z", false}},
       R"({"L":["x"]})"},
      {"no writing through a value that is not an object or array",
       {{"/s", "text", true}, {"/s/x", "v", false}, {"/s[1]", "v", false}},
       R"({"s":"text"})"},
  });
  CRapidJsonProto doc;  // whole numbers are JSON numbers
  ASSERT_TRUE(doc.set_v("/GatewayPort", int64_t{8080}));
  EXPECT_EQ(doc.get_str(0), R"({"GatewayPort":8080})");
}

TEST(JsonProtoTest, ReadsValuesAsText) {
  ExpectReads<CRapidJsonProto>(
      R"({"Port": 8080, "Token": "tok", "Big": 18446744073709551615,
          "Frac": 0.1, "Exp": 2.5e-7, "Real": 8080.0, "True": true,
          "Null": null, "Obj": {"k": "v"}, "List": [{"k": "a1"}, "x", 3], "Empty": "",
          "Esc": "a\"b\\c\u00e9\n\u0000z"})",
      {{"/Port", "8080"},
       {"/Big", "18446744073709551615"},
       {"/Frac", "0.1"},
       {"/Exp", "2.5e-7"},
       {"/Real", "8080.0"},
       {"/True", "true"},
       {"/Null", "absent"},
       {"/Obj", "absent"},
       {"/Obj/k", "v"},
       {"/List", "absent"},
       {"/List[1]/k", "a1"},
       {"/List[2]", "x"},
       {"/List[3]", "3"},
       {"/List[4]", "absent"},
       {"/Token[1]", "absent"},
       {"/Empty", ""},
       {"/Esc", std::string("a\"b\\c\xc3\xa9\n\0z", 10)}});
}

// A member "a" holding `depth` nested arrays: kMaxJsonDepth counts the top
// object too.
std::string NestedArrays(size_t depth) {
  return "{\"a\":" + std::string(depth, '[') + std::string(depth, ']') + "}";
}

TEST(JsonProtoTest, HostileInputIsRefusedOrReadSafely) {
  ExpectHostile<CRapidJsonProto>(
      R"({"Old":"kept?"})",
      {
          {"empty", ""},
          {"not JSON", "NotEnoughSpace"},
          {"truncated", R"({"a":1)"},
          {"truncated string", R"({"a":"x)"},
          {"array at the top", "[1,2]"},
          {"trailing text", R"({"a":1} x)"},
          {"comment", R"({/* c */"a":1})"},
          {"trailing comma", R"({"a":1,})"},
          {"NaN", R"({"a":NaN})"},
          {"number too big", R"({"a":1e999999})"},
          {"integer too big for a double", R"({"a":)" + std::string(400, '9') + "}"},
          {"NUL byte", std::string("{\"a\":1}\0", 8)},
          {"invalid UTF-8", "{\"a\":\"\xff\xfe\"}"},
          {"lone surrogate escape", R"({"a":"\ud800"})"},
          {"over the size limit", "{\"a\":\"" + std::string(kMaxDocumentBytes, 'x') + "\"}"},
          {"nesting over the limit", NestedArrays(kMaxJsonDepth)},
          {"very deep nesting", NestedArrays(1000000)},
          {"deep unclosed nesting", "{\"a\":" + std::string(1000000, '[')},
      },
      {
          {"nesting at the limit", NestedArrays(kMaxJsonDepth - 1), "/b", "absent"},
          {"duplicate members: the first counts", R"({"a":"1","a":"2"})", "/a", "1"},
          {"long fraction", R"({"a":0.)" + std::string(100000, '1') + "}", "/a",
           "0.1111111111111111"},
          {"long integer", R"({"a":)" + std::string(300, '1') + "}", "/a",
           "1.1111111111111112e299"},
      });
}

}  // namespace
}  // namespace proto
