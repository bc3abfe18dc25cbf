#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Repeat.h"
#include "proto/Proto.h"

namespace proto {
namespace {

struct Write {
  std::string path;
  std::string value;
  bool accepted;
};

// Each case starts from an empty document, applies its writes in order and
// expects the compact text.
TEST(XmlProtoTest, WritesCreateElementsInOrder) {
  struct Case {
    const char* name;
    std::vector<Write> writes;
    std::string text;
  };
  const Case cases[] = {
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
       {{"/A/1x", "v", false},
        {"/A/b c", "v", false},
        {"/A/b<c", "v", false},
        {"/A/x-y.z", "v", true}},
       "<A><x-y.z>v</x-y.z></A>"},
      {"NUL in the value is refused", {{"/A", std::string("a\0b", 3), false}}, ""},
  };
  for (const Case& c : cases) {
    CXmlProto doc;
    for (const Write& w : c.writes) {
      EXPECT_EQ(doc.set_v(w.path, w.value), w.accepted) << c.name << ": " << w.path;
    }
    EXPECT_EQ(doc.get_str(0), c.text) << c.name;
  }
}

TEST(XmlProtoTest, WholeNumbersAreWrittenInDecimal) {
  const int64_t values[] = {0, 7, -1, 2097152, INT64_MAX, INT64_MIN};
  for (const int64_t value : values) {
    CXmlProto doc;
    ASSERT_TRUE(doc.set_v("/N", value));
    EXPECT_EQ(doc.get_v("/N", ""), std::to_string(value));
  }
}

// The completion body: TotalPartNum, then one Part per entry, in order.
TEST(XmlProtoTest, CompletionDocumentShape) {
  struct Part {
    int64_t number;
    int64_t size;
    std::string etag;
  };
  const std::vector<Part> parts = {{1, 2097152, ""}, {2, 2097152, "e2"}, {4, 1000, ""}};
  CXmlProto doc;
  doc.set_v("/CompleteMultipartUpload/TotalPartNum", static_cast<int64_t>(parts.size()));
  for (size_t n = 1; n <= parts.size(); ++n) {
    const std::string part = "/CompleteMultipartUpload/Part[" + std::to_string(n) + "]";
    doc.set_v(part + "/PartNumber", parts[n - 1].number);
    doc.set_v(part + "/PartSize", parts[n - 1].size);
    doc.set_v(part + "/ETag", parts[n - 1].etag);
  }
  EXPECT_EQ(doc.get_str(0),
            "<CompleteMultipartUpload><TotalPartNum>3</TotalPartNum>"
            "<Part><PartNumber>1</PartNumber><PartSize>2097152</PartSize><ETag></ETag></Part>"
            "<Part><PartNumber>2</PartNumber><PartSize>2097152</PartSize><ETag>e2</ETag></Part>"
            "<Part><PartNumber>4</PartNumber><PartSize>1000</PartSize><ETag></ETag></Part>"
            "</CompleteMultipartUpload>");

  CXmlProto parsed;
  ASSERT_TRUE(parsed.set_str(doc.get_str(0)));
  EXPECT_EQ(parsed.get_v("/CompleteMultipartUpload/Part[3]/PartNumber", "-"), "4");
  EXPECT_EQ(parsed.get_v("/CompleteMultipartUpload/Part[2]/ETag", "-"), "e2");
  EXPECT_EQ(parsed.get_v("/CompleteMultipartUpload/Part[1]/ETag", "-"), "");
  EXPECT_EQ(parsed.get_v("/CompleteMultipartUpload/Part[4]/ETag", "-"), "-");
}

TEST(XmlProtoTest, ReadsTextByPath) {
  CXmlProto doc;
  ASSERT_TRUE(doc.set_str(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<R>\n  <Location>10.0.0.1:8080</Location>\n  <B><C>deep</C></B>\n"
      "  <P><N>1</N></P><P><N>2</N></P>\n  <E/><Empty></Empty>\n"
      "  <M>a<![CDATA[<b>&]]>c<!-- note -->d</M><W> sp </W><Esc>&lt;&amp;&gt;&quot;&#65;</Esc>\n"
      "  <A attr=\"x\">attributed</A>\n</R>"));
  struct Case {
    const char* path;
    const char* value;
  };
  const Case cases[] = {
      {"/R/Location", "10.0.0.1:8080"},
      {"/R/B/C", "deep"},
      {"/R/P/N", "1"},
      {"/R/P[1]/N", "1"},
      {"/R/P[2]/N", "2"},
      {"/R/P[3]/N", "absent"},
      {"/R/E", ""},
      {"/R/Empty", ""},
      {"/R/M", "a<b>&cd"},
      {"/R/W", " sp "},
      {"/R/Esc", "<&>\"A"},
      {"/R/A", "attributed"},
      {"/R/B", ""},
      {"/R/Missing", "absent"},
      {"/R/Location/Deeper", "absent"},
      {"/Other/Location", "absent"},
      {"/R[2]/Location", "absent"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(doc.get_v(c.path, "absent"), c.value) << c.path;
  }
}

TEST(XmlProtoTest, TextIsEscapedAndReadsBackUnescaped) {
  struct Case {
    std::string value;
    std::string escaped;  // must appear in the document text
  };
  const Case cases[] = {
      {"a&b", "a&amp;b"},
      {"<tag>", "&lt;tag&gt;"},
      {"x>y", "x&gt;y"},
      {"]]>", "]]&gt;"},
      {"&amp;", "&amp;amp;"},
      {"\"q\" 'a'", "\"q\" 'a'"},
      {"line\nbreak\ttab", "line\nbreak\ttab"},
      {"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac"},
      {"ctl\x01", "ctl&#"},
      {"  padded  ", "  padded  "},
  };
  for (const Case& c : cases) {
    CXmlProto doc;
    ASSERT_TRUE(doc.set_v("/Doc/Key", c.value));
    ASSERT_TRUE(doc.set_v("/Doc/ETag", c.value));
    const std::string text = doc.get_str(0);
    EXPECT_NE(text.find(c.escaped), std::string::npos) << text;
    CXmlProto parsed;
    ASSERT_TRUE(parsed.set_str(text)) << text;
    EXPECT_EQ(parsed.get_v("/Doc/Key", ""), c.value) << text;
    EXPECT_EQ(parsed.get_v("/Doc/ETag", ""), c.value) << text;
  }
}

TEST(XmlProtoTest, IndentedTextParsesToTheSameValues) {
  CXmlProto doc;
  doc.set_v("/A/B", "b");
  doc.set_v("/A/C[1]/D", int64_t{1});
  doc.set_v("/A/C[2]/D", int64_t{2});
  const std::string pretty = doc.get_str(1);
  EXPECT_NE(pretty, doc.get_str(0));
  EXPECT_NE(pretty.find('\n'), std::string::npos);
  CXmlProto parsed;
  ASSERT_TRUE(parsed.set_str(pretty));
  EXPECT_EQ(parsed.get_str(0), doc.get_str(0));
}

TEST(XmlProtoTest, HostileInputIsRefusedOrReadSafely) {
  const size_t kDeep = 100000;
  struct Case {
    const char* name;
    std::string text;
    bool accepted;
    const char* path;   // read after parsing, when accepted
    std::string value;  // expected at path
  };
  const Case cases[] = {
      {"empty", "", false, "", ""},
      {"not XML", "NotEnoughSpace", false, "", ""},
      {"truncated", "<R><A>x</A>", false, "", ""},
      {"truncated tag", "<R><A", false, "", ""},
      {"two roots", "<A/><B/>", false, "", ""},
      {"mismatched", "<A></B>", false, "", ""},
      {"NUL byte", std::string("<A>x\0y</A>", 10), false, "", ""},
      {"over the size limit", "<A>" + std::string(kMaxDocumentBytes, 'x') + "</A>", false, "", ""},
      {"deep nesting", Repeat("<a>", kDeep) + "x" + Repeat("</a>", kDeep), true, "/a/a/a", ""},
      {"deep unclosed nesting", Repeat("<a>", kDeep), false, "", ""},
      {"deep DOCTYPE", "<!DOCTYPE a [" + Repeat("<![", kDeep), false, "", ""},
      {"billion laughs",
       "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">"
       "<!ENTITY lol2 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">"
       "<!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">]>"
       "<lolz>&lol3;</lolz>",
       true, "/lolz", "&lol3;"},
      {"external entity", "<!DOCTYPE r [<!ENTITY xxe SYSTEM \"file:///etc/passwd\">]><r>&xxe;</r>",
       true, "/r", "&xxe;"},
      {"invalid UTF-8 passes through as bytes", "<A>\xff\xfe\xc3</A>", true, "/A", "\xff\xfe\xc3"},
  };
  for (const Case& c : cases) {
    CXmlProto doc;
    ASSERT_TRUE(doc.set_str("<Old>kept?</Old>"));
    EXPECT_EQ(doc.set_str(c.text), c.accepted) << c.name;
    doc.get_str(0);
    if (c.accepted) {
      EXPECT_EQ(doc.get_v(c.path, "absent"), c.value) << c.name;
    } else {
      EXPECT_EQ(doc.get_v("/Old", "absent"), "absent") << c.name;
      EXPECT_EQ(doc.get_str(0), "") << c.name;
    }
  }
}

}  // namespace
}  // namespace proto
