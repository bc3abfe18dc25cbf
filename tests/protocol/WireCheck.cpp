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

std::string Authorization(const std::string& text) {
  return std::string("quarnbox ") + kAccessKey + ":" + HmacBase64(text, kSecretKey);
}

}  // namespace

std::string HmacBase64(const std::string& text, const std::string& key) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()),
       reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest, &size);
  return Base64(digest, size);
}

std::string Md5HexOf(const std::string& body) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(body.data(), body.size(), digest, &size, EVP_md5(), nullptr);
  std::string hex;
  for (unsigned int i = 0; i < size; ++i) {
    hex += {"0123456789abcdef"[digest[i] >> 4], "0123456789abcdef"[digest[i] & 15]};
  }
  return hex;
}

std::string ContentMd5Of(const std::string& body) {
  const std::string hex = Md5HexOf(body);
  return Base64(reinterpret_cast<const unsigned char*>(hex.data()), hex.size());
}

std::string ObjectAuthorization(const CapturedRequest& request, const std::string& resource) {
  return Authorization(request.method + "\n" + request.Header("Content-MD5").value_or("") + "\n" +
                       request.Header("Content-Type").value_or("") + "\n" +
                       request.Header("Date").value_or("") + "\n\n" + resource);
}

std::string PictureAuthorization(const CapturedRequest& request, const std::string& resource,
                                 const std::string& signed_content_type) {
  return Authorization(request.method + "\n\n" + signed_content_type + "\n" +
                       request.Header("Date").value_or("") + "\n" + resource);
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
  return Reply{status, {{"Content-Type", "application/xml"}}, xml};
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
  EXPECT_EQ(request.Header("Host"), "127.0.0.1:" + std::to_string(upload_.port()));
  EXPECT_EQ(request.Header("Content-Type"), content_type);
  EXPECT_EQ(request.Header("Authorization"),
            ObjectAuthorization(request, resource.empty() ? target : resource));
}

}  // namespace orca_test
