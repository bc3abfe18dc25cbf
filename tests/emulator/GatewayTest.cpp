// The picture gateway: best node, the upload form, downloads and redirects.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include "RawClient.h"

namespace orca_test {
namespace {

constexpr char kBoundary[] = "------7e02362550dc4";

// The upload form exactly as the picture client writes it.
std::string PictureForm(const std::string& serial, const std::string& pool,
                        const std::string& token, const std::string& picture,
                        size_t declared_length) {
  const std::pair<const char*, std::string> fields[] = {
      {"SerialID", serial}, {"PoolID", pool}, {"TimeStamp", "1796388916000"},
      {"PictureType", "1"}, {"Token", token}, {"PictureLength", std::to_string(declared_length)},
  };
  std::string body;
  for (const auto& [name, value] : fields) {
    body += std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name +
            "\"\r\n\r\n" + value + "\r\n";
  }
  body +=
      std::string("--") + kBoundary +
      "\r\nContent-Disposition: form-data; name=\"Picture\"\r\nContent-Type: image/jpeg\r\n\r\n";
  return body + picture + "\r\n--" + kBoundary + "--\r\n\r\n";
}

class GatewayTest : public ::testing::Test {
 protected:
  GatewayTest()
      : gateway_(emulator_, emulator_.endpoints().gateway),
        downloads_(emulator_, emulator_.endpoints().gateway_download) {}

  // The best-node answer for `serial`.
  rapidjson::Document BestNode(const std::string& serial, const std::string& pool = "pool1") {
    RawRequest request;
    request.target = "/QuarnBox/BestNode?SerialID=" + serial + "&PoolID=" + pool + "&Replication=0";
    request.content_type = "text/json";
    request.picture = true;
    const auto result = gateway_.Send(request);
    rapidjson::Document doc;
    if (result && result->status == 200) {
      doc.Parse(result->body.c_str());
    }
    return doc;
  }

  httplib::Result Write(const std::string& form) {
    RawRequest request;
    request.method = "POST";
    request.target = "/QuarnBox/Picture/Write";
    request.body = form;
    request.content_type = std::string("multipart/form-data; boundary=") + kBoundary;
    request.picture = true;
    request.content_md5 = false;
    return gateway_.Send(request);
  }

  // Uploads `picture`; returns its URL ("" on failure).
  std::string Upload(const std::string& picture) {
    const auto node = BestNode("serial-1");
    const auto result =
        Write(PictureForm("serial-1", "pool1", node["Token"].GetString(), picture, picture.size()));
    rapidjson::Document doc;
    if (!result || result->status != 200 || doc.Parse(result->body.c_str()).HasParseError()) {
      ADD_FAILURE() << "upload failed: " << (result ? result->body : "no answer");
      return "";
    }
    return doc["PictureUrl"].GetString();
  }

  Emulator emulator_;
  RawClient gateway_;
  RawClient downloads_;
};

TEST_F(GatewayTest, BestNodeNamesTheGatewayWithAToken) {
  const auto doc = BestNode("abc");
  ASSERT_TRUE(doc.IsObject());
  EXPECT_STREQ(doc["GatewayIP"].GetString(), "127.0.0.1");
  ASSERT_TRUE(doc["GatewayPort"].IsInt()) << "a number, not a text";
  EXPECT_EQ(doc["GatewayPort"].GetInt(), emulator_.endpoints().gateway);
  EXPECT_EQ(std::string(doc["Token"].GetString()).size(), 32u);
  EXPECT_FALSE(BestNode("abc", "pool2").IsObject()) << "pool2 is another key's";
}

TEST_F(GatewayTest, StoresAndServesPictures) {
  // Near misses of the form's delimiter must pass unharmed (a whole one
  // cannot be in a picture: the boundary is fixed).
  const std::string boundary = kBoundary;
  const std::string picture = "\xff\xd8\r\n--" + boundary.substr(0, 18) + "\r\n-" +
                              GeneratedBytes(4, 0, 200000) + "--" + boundary + "\r\n" +
                              GeneratedBytes(5, 0, 70000) + "\r\n--" + boundary.substr(1);
  const std::string url = Upload(picture);
  ASSERT_EQ(url.rfind("/QuarnBox/Picture/pool1/", 0), 0u) << url;
  const auto result = downloads_.Get(url, true);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 200);
  EXPECT_EQ(result->body, picture);
  EXPECT_EQ(Upload("").empty(), false) << "an empty picture is a picture";
}

TEST_F(GatewayTest, RefusesFormsThatDoNotMatchTheBestNodeAnswer) {
  const std::string token = BestNode("s1")["Token"].GetString();
  struct Case {
    const char* name;
    std::string form;
    int status;
    const char* code;
  };
  const Case cases[] = {
      {"length differs", PictureForm("s1", "pool1", token, "abc", 4), 400, "InvalidPictureLength"},
      {"other token", PictureForm("s1", "pool1", std::string(32, '0'), "abc", 3), 403,
       "InvalidToken"},
      {"other serial", PictureForm("s2", "pool1", token, "abc", 3), 403, "InvalidToken"},
      {"other pool", PictureForm("s1", "pool2", token, "abc", 3), 403, "AccessDenied"},
      {"no fields", std::string("--") + kBoundary + "--\r\n", 400, "MalformedForm"},
      {"accepted", PictureForm("s1", "pool1", token, "abc", 3), 200, ""},
      {"token used up", PictureForm("s1", "pool1", token, "abc", 3), 403, "InvalidToken"},
  };
  for (const Case& c : cases) {
    const auto result = Write(c.form);
    ASSERT_TRUE(result) << c.name;
    EXPECT_EQ(result->status, c.status) << c.name << ": " << result->body;
    EXPECT_EQ(XmlText(result->body, "Code"), c.code) << c.name;
  }
}

TEST_F(GatewayTest, SignsWithThePictureLayout) {
  RawRequest request;
  request.target = "/QuarnBox/BestNode?SerialID=x&PoolID=pool1&Replication=0";
  request.content_type = "text/json";
  const auto object_layout = gateway_.Send(request);
  EXPECT_EQ(object_layout->status, 403);
  EXPECT_EQ(XmlText(object_layout->body, "SignatureLayout"), "picture");
}

TEST_F(GatewayTest, RedirectsPictureDownloadsToANode) {
  const std::string url = Upload("picture bytes");
  emulator_.SetRedirect("always");
  const auto first = downloads_.Get(url, true);
  ASSERT_TRUE(first);
  ASSERT_EQ(first->status, 302);
  const std::string location = first->get_header_value("Location");
  const std::string prefix = "http://127.0.0.1:";
  ASSERT_EQ(location.rfind(prefix, 0), 0u) << location;
  const size_t slash = location.find('/', prefix.size());
  const int node = std::stoi(location.substr(prefix.size(), slash - prefix.size()));
  EXPECT_EQ(location.substr(slash), url);
  RawClient node_client(emulator_, node);
  const auto second = node_client.Get(url, true);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->status, 200);
  EXPECT_EQ(second->body, "picture bytes");
}

}  // namespace
}  // namespace orca_test
