// The picture gateway: the upload form's checks and delimiters, downloads.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include "RawClient.h"

namespace orca_test {
namespace {

constexpr char kBoundary[] = "------7e02362550dc4";

// The upload form as the picture client writes it.
std::string PictureForm(const std::string& serial, const std::string& pool,
                        const std::string& token, const std::string& picture, size_t length) {
  std::string form;
  const std::pair<const char*, std::string> fields[] = {
      {"SerialID", serial}, {"PoolID", pool}, {"TimeStamp", "1796388916000"},
      {"PictureType", "1"}, {"Token", token}, {"PictureLength", std::to_string(length)}};
  for (const auto& [name, value] : fields) {
    form += std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name +
            "\"\r\n\r\n" + value + "\r\n";
  }
  return form + "--" + kBoundary +
         "\r\nContent-Disposition: form-data; name=\"Picture\"\r\nContent-Type: "
         "image/jpeg\r\n\r\n" +
         picture + "\r\n--" + kBoundary + "--\r\n";
}

TEST(GatewayTest, StoresServesAndChecksPictures) {
  Emulator emulator;
  RawClient gateway(emulator, emulator.endpoints().gateway);
  const auto best_node = [&gateway](const std::string& serial) {
    const auto result = gateway.Send(
        RawRequest{"GET", "/QuarnBox/BestNode?SerialID=" + serial + "&PoolID=pool1&Replication=0",
                   "", "text/json", /*picture=*/true});
    rapidjson::Document doc;
    doc.Parse(result->body.c_str());
    return doc;
  };
  const auto write = [&gateway](const std::string& form) {
    RawRequest request{"POST", "/QuarnBox/Picture/Write", form,
                       std::string("multipart/form-data; boundary=") + kBoundary, true};
    request.content_md5 = false;
    return gateway.Send(request);
  };
  const auto node = best_node("s1");
  ASSERT_TRUE(node["GatewayPort"].IsInt()) << "a number, not a text";
  const std::string token = node["Token"].GetString();
  const std::tuple<const char*, std::string, int, const char*> cases[] = {
      // name, form, status, code
      {"length differs", PictureForm("s1", "pool1", token, "abc", 4), 400, "InvalidPictureLength"},
      {"other token", PictureForm("s1", "pool1", std::string(32, '0'), "abc", 3), 403,
       "InvalidToken"},
      {"other serial", PictureForm("s2", "pool1", token, "abc", 3), 403, "InvalidToken"},
      {"other pool", PictureForm("s1", "pool2", token, "abc", 3), 403, "AccessDenied"},
      {"no fields", std::string("--") + kBoundary + "--\r\n", 400, "MalformedForm"},
      {"empty picture", PictureForm("s1", "pool1", token, "", 0), 200, ""},
      {"token used up", PictureForm("s1", "pool1", token, "abc", 3), 403, "InvalidToken"},
  };
  for (const auto& [name, form, status, code] : cases) {
    const auto result = write(form);
    EXPECT_EQ(result->status, status) << name << ": " << result->body;
    EXPECT_EQ(XmlText(result->body, "Code"), code) << name;
  }
  // Near misses of the form's delimiter must pass unharmed.
  const std::string boundary = kBoundary;
  const std::string picture = "\xff\xd8\r\n--" + boundary.substr(0, 18) + "\r\n-" +
                              GeneratedBytes(4, 0, 200000) + "--" + boundary + "\r\n" +
                              GeneratedBytes(5, 0, 70000) + "\r\n--" + boundary.substr(1);
  const auto written = write(
      PictureForm("s2", "pool1", best_node("s2")["Token"].GetString(), picture, picture.size()));
  ASSERT_EQ(written->status, 200) << written->body;
  rapidjson::Document answer;
  answer.Parse(written->body.c_str());
  const std::string url = answer["PictureUrl"].GetString();
  emulator.Restart();
  RawClient again(emulator, emulator.endpoints().gateway_download);
  EXPECT_TRUE(again.Send(RawRequest{"GET", url, "", "", true})->body == picture)
      << "kept across a restart";
}

}  // namespace
}  // namespace orca_test
