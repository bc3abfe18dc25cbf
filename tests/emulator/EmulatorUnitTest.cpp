// The emulator's parsers and checks, without a server.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "emulator/Auth.h"
#include "emulator/Crypto.h"
#include "emulator/Faults.h"
#include "emulator/HttpDate.h"
#include "emulator/KeyPath.h"
#include "emulator/Multipart.h"
#include "emulator/Pattern.h"
#include "emulator/Ranges.h"
#include "emulator/Signing.h"

namespace ocs {
namespace {

TEST(ClientDateTest, AcceptsOnlyTheClientsForm) {
  struct Case {
    const char* text;
    bool valid;
  };
  const Case cases[] = {
      {"Fri,  4 Dec 2026 12:55:16 GMT", true},  // day padded with a space
      {"Mon, 14 Dec 2026 12:55:16 GMT", true},
      {"Sat, 29 Feb 2020 00:00:00 GMT", true},   // leap day
      {"Fri, 04 Dec 2026 12:55:16 GMT", false},  // zero-padded day
      {"Thu,  4 Dec 2026 12:55:16 GMT", false},  // weekday does not match
      {"Sun, 29 Feb 2026 00:00:00 GMT", false},  // no such day
      {"Fri,  4 Dec 2026 12:55:16 UTC", false},
      {"Fri,  4 Dez 2026 12:55:16 GMT", false},
      {"Fri,  4 Dec 2026 24:00:00 GMT", false},
      {"Fri, 4 Dec 2026 12:55:16 GMT", false},  // one space only
      {"Fri,  4 Dec 2026 12:55:16 GMT ", false},
      {"", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseClientDate(c.text).has_value(), c.valid) << c.text;
  }
}

TEST(ClientDateTest, FormatsAndParsesTheSameInstant) {
  EXPECT_EQ(ParseClientDate("Fri,  4 Dec 2026 12:55:16 GMT"), 1796388916);
  for (const int64_t seconds : {int64_t{0}, int64_t{951782400}, int64_t{1796388916}}) {
    const std::string text = FormatClientDate(seconds);
    EXPECT_EQ(ParseClientDate(text), seconds) << text;
  }
  EXPECT_EQ(FormatClientDate(1796388916), "Fri,  4 Dec 2026 12:55:16 GMT");
}

TEST(RangeTest, ResolvesRfc7233RangesAgainstTheSize) {
  struct Case {
    const char* header;
    uint64_t size;
    RangeOutcome outcome;
    uint64_t first;
    uint64_t last;
  };
  const uint64_t big = uint64_t{6} << 30;
  const Case cases[] = {
      {"", 10, RangeOutcome::kWhole, 0, 0},
      {"bytes=0-0", 10, RangeOutcome::kRange, 0, 0},
      {"bytes=2-5", 10, RangeOutcome::kRange, 2, 5},
      {"bytes=0-1048576", 10, RangeOutcome::kRange, 0, 9},  // last clamped
      {"bytes=5-", 10, RangeOutcome::kRange, 5, 9},
      {"bytes=-3", 10, RangeOutcome::kRange, 7, 9},
      {"bytes=-20", 10, RangeOutcome::kRange, 0, 9},
      {"Bytes= 1-2", 10, RangeOutcome::kRange, 1, 2},
      {"bytes=5000000000-5000000009", big, RangeOutcome::kRange, 5000000000, 5000000009},
      {"bytes=10-", 10, RangeOutcome::kInvalid, 0, 0},  // starts at the end
      {"bytes=5-4", 10, RangeOutcome::kInvalid, 0, 0},
      {"bytes=-0", 10, RangeOutcome::kInvalid, 0, 0},
      {"bytes=-1", 0, RangeOutcome::kInvalid, 0, 0},
      {"bytes=0-1,3-4", 10, RangeOutcome::kInvalid, 0, 0},
      {"items=0-1", 10, RangeOutcome::kInvalid, 0, 0},
      {"bytes=1", 10, RangeOutcome::kInvalid, 0, 0},
      {"bytes=x-2", 10, RangeOutcome::kInvalid, 0, 0},
      {"bytes=99999999999999999999-", 10, RangeOutcome::kInvalid, 0, 0},
  };
  for (const Case& c : cases) {
    ByteRange range;
    std::string why;
    ASSERT_EQ(ResolveRange(c.header, c.size, &range, &why), c.outcome) << c.header;
    if (c.outcome == RangeOutcome::kRange) {
      EXPECT_EQ(range.first, c.first) << c.header;
      EXPECT_EQ(range.last, c.last) << c.header;
    }
  }
}

TEST(ObjectPathTest, SplitsPoolAndKeyAndRefusesTraversal) {
  struct Case {
    const char* path;
    const char* pool;  // nullptr: refused
    const char* key;
  };
  const Case cases[] = {
      {"/p1/k.pfile", "p1", "k.pfile"},
      {"/p1/a/b/c.jpg", "p1", "a/b/c.jpg"},
      {"/p1/..x", "p1", "..x"},
      {"/p1/%41", "p1", "%41"},  // kept as sent
      {"/p1/../etc/passwd", nullptr, nullptr},
      {"/p1/a/../../b", nullptr, nullptr},
      {"/p1/a/./b", nullptr, nullptr},
      {"/p1/a//b", nullptr, nullptr},
      {"/p1/a/", nullptr, nullptr},
      {"/p1/%2e%2E/x", nullptr, nullptr},
      {"/p1/a%00b", nullptr, nullptr},
      {"/p1/a%2fb", nullptr, nullptr},
      {"/p1/a\\b", nullptr, nullptr},
      {"/p1/", nullptr, nullptr},
      {"/p1", nullptr, nullptr},
      {"/../k", nullptr, nullptr},
      {"/p 1/k", nullptr, nullptr},
      {"p1/k", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    std::string why;
    const auto address = ParseObjectPath(c.path, &why);
    if (c.pool == nullptr) {
      EXPECT_FALSE(address) << c.path;
      EXPECT_FALSE(why.empty()) << c.path;
    } else {
      ASSERT_TRUE(address) << c.path << ": " << why;
      EXPECT_EQ(address->pool, c.pool);
      EXPECT_EQ(address->key, c.key);
    }
  }
  std::string why;
  EXPECT_FALSE(ParseObjectPath("/p1/" + std::string(200, '~'), &why)) << "too long once encoded";
}

TEST(FileNameTest, EncodesEveryNameIntoOneSafeComponent) {
  for (const std::string name : {".", "..", ".hidden", "a/b", "%", "a b", "\x01\xff", "x.jpg"}) {
    const std::string file = EncodeFileName(name);
    EXPECT_NE(file, ".");
    EXPECT_NE(file, "..");
    EXPECT_EQ(file.find('/'), std::string::npos) << file;
    EXPECT_NE(file[0], '.') << file;
    EXPECT_EQ(DecodeFileName(file), name) << file;
  }
  EXPECT_EQ(EncodeFileName("x.jpg"), "x.jpg");
  EXPECT_FALSE(DecodeFileName("a%2"));
  EXPECT_FALSE(DecodeFileName("a%zz"));
}

TEST(GeneratedObjectTest, ParsesTheReservedKeyForm) {
  struct Case {
    const char* key;
    std::optional<uint64_t> size;
    uint64_t seed;
  };
  const Case cases[] = {
      {"gen-100-1.bin", 100, 1},
      {"gen-0-0.bin", 0, 0},
      {"gen-1K-2.bin", 1024, 2},
      {"gen-5G-7.bin", uint64_t{5} << 30, 7},
      {"gen-3M-18446744073709551615.bin", uint64_t{3} << 20, UINT64_MAX},
      {"gen-01-1.bin", std::nullopt, 0},
      {"gen-1-x.bin", std::nullopt, 0},
      {"gen--1.bin", std::nullopt, 0},
      {"gen-1-1.txt", std::nullopt, 0},
      {"gen-1T-1.bin", std::nullopt, 0},
      {"gen-99999999999G-1.bin", std::nullopt, 0},
      {"a/gen-1-1.bin", std::nullopt, 0},
  };
  for (const Case& c : cases) {
    const auto object = ParseGeneratedKey(c.key);
    ASSERT_EQ(object.has_value(), c.size.has_value()) << c.key;
    if (object) {
      EXPECT_EQ(object->size, *c.size) << c.key;
      EXPECT_EQ(object->seed, c.seed) << c.key;
    }
  }
  EXPECT_EQ(MakeGeneratedKey(123, 4), "gen-123-4.bin");
}

TEST(GeneratedObjectTest, PatternDependsOnlyOnSeedAndOffset) {
  std::string whole(1000, '\0');
  FillPattern(9, 4294967290, whole.data(), whole.size());
  std::string pieces(1000, '\0');
  for (size_t at = 0, step = 1; at < pieces.size(); at += step, step = step % 13 + 1) {
    const size_t n = std::min(step, pieces.size() - at);
    FillPattern(9, 4294967290 + at, pieces.data() + at, n);
  }
  EXPECT_EQ(whole, pieces);
  std::string other(1000, '\0');
  FillPattern(10, 4294967290, other.data(), other.size());
  EXPECT_NE(whole, other);
}

TEST(CryptoTest, MatchesKnownAnswers) {
  // Content-MD5 of this protocol: Base64 of the hex digest.
  EXPECT_EQ(ContentMd5FromHex(Md5Hex("abc")), "OTAwMTUwOTgzY2QyNGZiMGQ2OTYzZjdkMjhlMTdmNzI=");
  EXPECT_EQ(ContentMd5FromHex(Md5Hex("")), "ZDQxZDhjZDk4ZjAwYjIwNGU5ODAwOTk4ZWNmODQyN2U=");
  // RFC 2202, HMAC-SHA1 test case 2.
  EXPECT_EQ(HmacSha1Base64("Jefe", "what do ya want for nothing?"), "7/zfauXrL6LSdBbV8YTfnCWafHk=");
  Md5 pieces;
  pieces.Update("a", 1);
  pieces.Update("bc", 2);
  EXPECT_EQ(pieces.HexDigest(), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(SigningTest, BuildsBothStringToSignLayouts) {
  const SignInputs in{"GET", "", "application/xml; charset=utf-8", "Fri,  4 Dec 2026 12:55:16 GMT",
                      "/p1/a.pfile?bestnode"};
  EXPECT_EQ(ObjectStringToSign(in),
            "GET\n\napplication/xml; charset=utf-8\nFri,  4 Dec 2026 12:55:16 GMT\n\n"
            "/p1/a.pfile?bestnode");
  EXPECT_EQ(PictureStringToSign(in),
            "GET\n\napplication/xml; charset=utf-8\nFri,  4 Dec 2026 12:55:16 GMT\n"
            "/p1/a.pfile?bestnode");
  EXPECT_EQ(SignedResource("/?version"), "?version");
  EXPECT_EQ(SignedResource("/p1/k?uploads"), "/p1/k?uploads");
  EXPECT_EQ(MediaType("multipart/form-data; boundary=------7e02362550dc4"), "multipart/form-data");
  EXPECT_EQ(MediaType("text/json"), "text/json");
}

TEST(SigningTest, ParsesTheAuthorizationValue) {
  const auto credentials = ParseAuthorization("quarnbox ak1:c2lnbmF0dXJl");
  ASSERT_TRUE(credentials);
  EXPECT_EQ(credentials->ak, "ak1");
  EXPECT_EQ(credentials->signature, "c2lnbmF0dXJl");
  for (const char* bad : {"quarnbox ak1", "quarnbox :sig", "quarnbox ak1:", "Quarnbox ak1:sig",
                          "quarnboxak1:sig", ""}) {
    EXPECT_FALSE(ParseAuthorization(bad)) << bad;
  }
}

class AuthenticatorTest : public ::testing::Test {
 protected:
  static constexpr int64_t kNow = 1796388916;  // Fri,  4 Dec 2026 12:55:16 GMT

  AuthenticatorTest()
      : auth_({{"p1", "ak1", "sk1", 0}, {"p2", "ak2", "sk2", 0}}, true, 900, [] { return kNow; }) {}

  RequestFacts Signed(int64_t date, const std::string& sk = "sk1") const {
    RequestFacts facts;
    facts.method = "GET";
    facts.target = "/p1/k?bestnode";
    facts.content_type = "application/xml; charset=utf-8";
    facts.date = FormatClientDate(date);
    const std::string text =
        ObjectStringToSign({facts.method, "", facts.content_type, *facts.date, facts.target});
    facts.authorization = "quarnbox ak1:" + HmacSha1Base64(sk, text);
    return facts;
  }

  Authenticator auth_;
};

TEST_F(AuthenticatorTest, AcceptsSignedRequestsWithinTheSkew) {
  std::string ak;
  for (const int64_t skew : {0, 900, -900}) {
    EXPECT_FALSE(auth_.Verify(Signed(kNow + skew), SignLayout::kObject, &ak)) << skew;
    EXPECT_EQ(ak, "ak1");
  }
}

TEST_F(AuthenticatorTest, RefusesWithTheCauseNamed) {
  RequestFacts no_date = Signed(kNow);
  no_date.date.reset();
  RequestFacts unknown = Signed(kNow);
  unknown.authorization = "quarnbox ak9:" + unknown.authorization->substr(14);
  RequestFacts unsigned_request = Signed(kNow);
  unsigned_request.authorization.reset();
  struct Case {
    const char* name;
    RequestFacts facts;
    SignLayout layout;
    int status;
    const char* code;
  };
  const Case cases[] = {
      {"skew", Signed(kNow + 901), SignLayout::kObject, 403, "RequestTimeTooSkewed"},
      {"wrong key", Signed(kNow, "sk2"), SignLayout::kObject, 403, "SignatureDoesNotMatch"},
      {"picture layout", Signed(kNow), SignLayout::kPicture, 403, "SignatureDoesNotMatch"},
      {"no date", no_date, SignLayout::kObject, 400, "MissingDate"},
      {"unknown ak", unknown, SignLayout::kObject, 403, "InvalidAccessKeyId"},
      {"unsigned", unsigned_request, SignLayout::kObject, 403, "AccessDenied"},
  };
  for (const Case& c : cases) {
    std::string ak;
    const auto error = auth_.Verify(c.facts, c.layout, &ak);
    ASSERT_TRUE(error) << c.name;
    EXPECT_EQ(error->status, c.status) << c.name;
    EXPECT_EQ(error->code, c.code) << c.name;
  }
}

TEST_F(AuthenticatorTest, NamesTheExpectedStringToSign) {
  std::string ak;
  const auto error = auth_.Verify(Signed(kNow, "wrong"), SignLayout::kObject, &ak);
  ASSERT_TRUE(error);
  const std::string expected =
      "GET\n\napplication/xml; charset=utf-8\nFri,  4 Dec 2026 12:55:16 GMT\n\n/p1/k?bestnode";
  EXPECT_NE(std::find(error->details.begin(), error->details.end(),
                      std::make_pair(std::string("StringToSign"), expected)),
            error->details.end());
}

TEST_F(AuthenticatorTest, ChecksPoolOwnership) {
  EXPECT_FALSE(auth_.CheckPool("p1", "ak1"));
  EXPECT_EQ(auth_.CheckPool("p2", "ak1")->status, 403);
  EXPECT_EQ(auth_.CheckPool("p9", "ak1")->code, "NoSuchBucket");
}

TEST(ContentMd5Test, WantsTheHexThenBase64Form) {
  const std::string md5 = Md5Hex("abc");
  EXPECT_FALSE(CheckContentMd5("OTAwMTUwOTgzY2QyNGZiMGQ2OTYzZjdkMjhlMTdmNzI=", md5, true));
  EXPECT_FALSE(CheckContentMd5("", md5, false));
  EXPECT_EQ(CheckContentMd5("", md5, true)->code, "MissingContentMD5");
  EXPECT_EQ(CheckContentMd5("kAFQmDzST7DWlj99KOF/cg==", md5, true)->code, "InvalidDigest");
  EXPECT_EQ(CheckContentMd5(ContentMd5FromHex(Md5Hex("abd")), md5, true)->code, "BadDigest");
}

TEST(CompletionTest, ChecksTheDocumentAgainstTheUpload) {
  const UploadInfo upload{"p1", "k", {{1, 2097152}, {2, 1000}, {3, 7}}};
  const auto doc = [](const std::string& total, const std::string& parts) {
    return "<?xml version=\"1.0\"?><CompleteMultipartUpload><TotalPartNum>" + total +
           "</TotalPartNum>" + parts + "</CompleteMultipartUpload>";
  };
  const auto part = [](const std::string& number, const std::string& size) {
    return "<Part><PartNumber>" + number + "</PartNumber><PartSize>" + size +
           "</PartSize><ETag></ETag></Part>";
  };
  struct Case {
    const char* name;
    std::string xml;
    const char* code;  // nullptr: accepted
  };
  const Case cases[] = {
      {"two parts", doc("2", part("1", "2097152") + part("2", "1000")), nullptr},
      {"gap", doc("2", part("1", "2097152") + part("3", "7")), nullptr},
      {"size differs", doc("1", part("2", "999")), "InvalidPart"},
      {"not uploaded", doc("1", part("4", "7")), "InvalidPart"},
      {"descending", doc("2", part("2", "1000") + part("1", "2097152")), "InvalidPartOrder"},
      {"total differs", doc("3", part("1", "2097152") + part("2", "1000")), "MalformedXML"},
      {"no parts", doc("0", ""), "MalformedXML"},
      {"no ETag", doc("1", "<Part><PartNumber>1</PartNumber><PartSize>2097152</PartSize></Part>"),
       "MalformedXML"},
      {"part zero", doc("1", part("0", "1")), "MalformedXML"},
      {"leading zero", doc("1", part("01", "2097152")), "MalformedXML"},
      {"not XML", "<CompleteMultipartUpload><TotalPartNum>1", "MalformedXML"},
      {"other root", "<Complete><TotalPartNum>1</TotalPartNum></Complete>", "MalformedXML"},
  };
  for (const Case& c : cases) {
    std::vector<uint32_t> numbers;
    const auto error = CheckCompletion(c.xml, upload, &numbers);
    if (c.code == nullptr) {
      EXPECT_FALSE(error) << c.name << ": " << error->message;
    } else {
      ASSERT_TRUE(error) << c.name;
      EXPECT_EQ(error->code, c.code) << c.name;
    }
  }
  std::vector<uint32_t> numbers;
  ASSERT_FALSE(CheckCompletion(doc("2", part("1", "2097152") + part("3", "7")), upload, &numbers));
  EXPECT_EQ(numbers, (std::vector<uint32_t>{1, 3}));
}

TEST(CompletionTest, PartNumbersArePlainDecimal) {
  EXPECT_EQ(ParsePartNumber("1"), 1u);
  EXPECT_EQ(ParsePartNumber("10000"), 10000u);
  for (const char* bad : {"0", "01", "10001", "-1", "1a", ""}) {
    EXPECT_FALSE(ParsePartNumber(bad)) << bad;
  }
}

TEST(FaultsTest, GlobMatchesTargets) {
  struct Case {
    const char* pattern;
    const char* text;
    bool match;
  };
  const Case cases[] = {
      {"*", "/p1/k?bestnode", true},
      {"/p1/*", "/p1/k", true},
      {"/p1/*", "/p2/k", false},
      {"*?bestnode", "/p1/k?bestnode", true},
      {"*?bestnode", "/p1/k?uploads", false},
      {"/p1/*.jpg", "/p1/a/b.jpg", true},
      {"/p1/k", "/p1/k", true},
      {"/p1/k", "/p1/kk", false},
      {"*a*b*", "xxaxxbxx", true},
      {"", "", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GlobMatch(c.pattern, c.text), c.match) << c.pattern << " ~ " << c.text;
  }
}

TEST(FaultsTest, RulesApplyInOrderForTheirCount) {
  FaultInjector faults;
  FaultAction reset;
  reset.kind = FaultKind::kReset;
  FaultAction status;
  status.kind = FaultKind::kStatus;
  faults.Add({"download", "GET", "/p1/*"}, reset, 2);
  faults.Add({"", "", "*"}, status, 1);
  EXPECT_EQ(faults.Take("upload", "GET", "/p1/k")->kind, FaultKind::kStatus);
  EXPECT_EQ(faults.Take("download", "GET", "/p1/k")->kind, FaultKind::kReset);
  EXPECT_EQ(faults.Take("download", "GET", "/p1/k")->kind, FaultKind::kReset);
  EXPECT_FALSE(faults.Take("download", "GET", "/p1/k"));
  EXPECT_TRUE(faults.Rules().empty());
}

TEST(FaultsTest, RandomFaultsReplayWithTheirSeed) {
  const auto run = [](uint64_t seed) {
    FaultInjector faults;
    RandomFaults random;
    random.seed = seed;
    random.probability = 0.5;
    random.kinds = {FaultKind::kReset, FaultKind::kStatus, FaultKind::kDelay};
    random.match.role = "download";
    faults.SetRandom(random);
    std::string drawn;
    for (int i = 0; i < 200; ++i) {
      const auto fault = faults.Take(i % 4 == 0 ? "upload" : "download", "GET", "/p1/k");
      drawn += fault ? FaultKindName(fault->kind)[0] : '-';
    }
    return drawn;
  };
  const std::string first = run(42);
  EXPECT_EQ(first, run(42));
  EXPECT_NE(first, run(43));
  for (size_t i = 0; i < first.size(); i += 4) {
    EXPECT_EQ(first[i], '-') << "the upload role is not matched";
  }
  EXPECT_NE(first.find('r'), std::string::npos);
  EXPECT_NE(first.find('-', 1), std::string::npos);
}

}  // namespace
}  // namespace ocs
