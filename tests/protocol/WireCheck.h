// Checks of captured requests, computed independently of the library:
// signatures with OpenSSL's HMAC and Base64, Content-MD5 with OpenSSL's MD5;
// and the fixture of the object protocol's wire tests.
#ifndef ORCA_TEST_PROTOCOL_WIRECHECK_H_
#define ORCA_TEST_PROTOCOL_WIRECHECK_H_

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CaptureServer.h"
#include "StorageClient/protocol/ObjectImpl.h"
#include "StorageClient/protocol/ObjectProtoClient.h"

namespace orca_test {

inline constexpr char kAccessKey[] = "AKWIRE";
inline constexpr char kSecretKey[] = "wire-secret-key";

// Base64 of HMAC-SHA1(key, text).
std::string HmacBase64(const std::string& text, const std::string& key);

// The lower-case hex MD5 of `body`, and the Base64 of that text.
std::string Md5HexOf(const std::string& body);
std::string ContentMd5Of(const std::string& body);

// The Authorization value the object protocol must send for `request`,
// signed over `resource` with its own Date, Content-MD5 and Content-Type.
std::string ObjectAuthorization(const CapturedRequest& request, const std::string& resource);
// The same with the picture string to sign and `signed_content_type`.
std::string PictureAuthorization(const CapturedRequest& request, const std::string& resource,
                                 const std::string& signed_content_type);

// The header names of `request` in order, without Content-Length and
// Content-Type (the HTTP component's own fields).
std::vector<std::string> OrderedHeaderNames(const CapturedRequest& request);

// A reply with an XML body.
Reply XmlReply(int status, const std::string& xml);

// Two capture servers and an initialised protocol client signing with the
// keys above: `upload_` plays the configured address (upload port) and
// `node_` the download port and the data nodes, so that a request's Host
// can be told apart from the server it went to.
class ObjectWireTest : public ::testing::Test {
 protected:
  void SetUp() override;

  std::string NodeLocation() const { return "127.0.0.1:" + std::to_string(node_.port()); }
  // Records a protocol step's failure as the public members do; true for
  // success.
  bool Recorded(const Orca::CloudStorage::Status& status) const { return impl_->Succeeded(status); }
  // The recorded error must be this one.
  void ExpectError(int32_t code, const std::string& message) const;
  // The frame of an object request: method, target, the ordered header
  // fields, the configured Host, content type and the signature over
  // `resource` (the target when empty).
  void ExpectFrame(const CapturedRequest& request, const char* method, const std::string& target,
                   const std::vector<std::string>& names,
                   const std::optional<std::string>& content_type,
                   const std::string& resource = "") const;

  CaptureServer upload_;
  CaptureServer node_;
  std::shared_ptr<Orca::CloudStorage::ObjectImpl> impl_;
  Orca::CloudStorage::CObjectProtoClient client_;
};

}  // namespace orca_test

#endif  // ORCA_TEST_PROTOCOL_WIRECHECK_H_
