#include "WireCheck.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <strings.h>

namespace orca_test {
namespace {

std::string Base64(const unsigned char* data, size_t size) {
  std::string out(4 * ((size + 2) / 3), '\0');
  EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data, static_cast<int>(size));
  return out;
}

std::string HeaderOrEmpty(const CapturedRequest& request, const char* name) {
  return request.Header(name).value_or("");
}

}  // namespace

std::string HmacBase64(const std::string& text, const std::string& key) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()),
       reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest, &size);
  return Base64(digest, size);
}

std::string ContentMd5Of(const std::string& body) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(body.data(), body.size(), digest, &size, EVP_md5(), nullptr);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < size; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 0x0F];
  }
  return Base64(reinterpret_cast<const unsigned char*>(hex.data()), hex.size());
}

std::string ObjectAuthorization(const CapturedRequest& request, const std::string& resource) {
  const std::string text = request.method + "\n" + HeaderOrEmpty(request, "Content-MD5") + "\n" +
                           HeaderOrEmpty(request, "Content-Type") + "\n" +
                           HeaderOrEmpty(request, "Date") + "\n\n" + resource;
  return std::string("quarnbox ") + kAccessKey + ":" + HmacBase64(text, kSecretKey);
}

std::string PictureAuthorization(const CapturedRequest& request, const std::string& resource,
                                 const std::string& signed_content_type) {
  const std::string text = request.method + "\n\n" + signed_content_type + "\n" +
                           HeaderOrEmpty(request, "Date") + "\n" + resource;
  return std::string("quarnbox ") + kAccessKey + ":" + HmacBase64(text, kSecretKey);
}

std::vector<std::string> OrderedHeaderNames(const CapturedRequest& request) {
  std::vector<std::string> names;
  for (const auto& [name, value] : request.headers) {
    if (strcasecmp(name.c_str(), "Content-Length") != 0 &&
        strcasecmp(name.c_str(), "Content-Type") != 0) {
      names.push_back(name);
    }
  }
  return names;
}

Reply XmlReply(int status, const std::string& xml) {
  Reply reply;
  reply.status = status;
  reply.headers = {{"Content-Type", "application/xml"}};
  reply.body = xml;
  return reply;
}

void ObjectWireTest::SetUp() {
  upload_.Start();
  node_.Start();
  Orca::CloudStorage::SStorageServerConfig config;
  config.ip = "127.0.0.1";
  config.upload_port = static_cast<uint32_t>(upload_.port());
  config.download_port = static_cast<uint32_t>(node_.port());
  config.pool_name = "p1";
  config.ak = kAccessKey;
  config.sk = kSecretKey;
  impl_ = std::make_shared<Orca::CloudStorage::ObjectImpl>(config);
  ASSERT_TRUE(client_.Init(impl_));
}

void ObjectWireTest::ExpectError(int32_t code, const std::string& message) const {
  EXPECT_EQ(impl_->last_error_code, code);
  EXPECT_EQ(impl_->last_error_msg, message);
}

void ObjectWireTest::ExpectFrame(const CapturedRequest& request, const char* method,
                                 const std::string& target, const std::vector<std::string>& names,
                                 const std::optional<std::string>& content_type,
                                 const std::string& resource) const {
  EXPECT_EQ(request.method, method);
  EXPECT_EQ(request.target, target);
  EXPECT_EQ(OrderedHeaderNames(request), names);
  EXPECT_EQ(request.Header("Host"), Host());
  EXPECT_EQ(request.Header("Content-Type"), content_type);
  EXPECT_EQ(request.Header("Authorization"),
            ObjectAuthorization(request, resource.empty() ? target : resource));
}

}  // namespace orca_test
