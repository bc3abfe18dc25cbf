// Checks of captured requests, computed independently of the library:
// signatures with OpenSSL's HMAC and Base64, Content-MD5 with OpenSSL's MD5.
#ifndef ORCA_TEST_PROTOCOL_WIRECHECK_H_
#define ORCA_TEST_PROTOCOL_WIRECHECK_H_

#include <string>
#include <vector>

#include "CaptureServer.h"

namespace orca_test {

inline constexpr char kAccessKey[] = "AKWIRE";
inline constexpr char kSecretKey[] = "wire-secret-key";

// Base64 of HMAC-SHA1(key, text).
std::string HmacBase64(const std::string& text, const std::string& key);

// Base64 of the lower-case hex MD5 of `body`.
std::string ContentMd5Of(const std::string& body);

// The Authorization value the object protocol must send for `request`,
// signed over `resource` with its own Date, Content-MD5 and Content-Type.
std::string ObjectAuthorization(const CapturedRequest& request, const std::string& resource);
// The same with the picture string to sign and `signed_content_type`.
std::string PictureAuthorization(const CapturedRequest& request, const std::string& resource,
                                 const std::string& signed_content_type);

// The header names of `request` in order, without Content-Length (the HTTP
// component's own) and Content-Type (checked on its own: it travels beside
// the ordered fields).
std::vector<std::string> OrderedHeaderNames(const CapturedRequest& request);

// A reply with an XML body.
Reply XmlReply(int status, const std::string& xml);

}  // namespace orca_test

#endif  // ORCA_TEST_PROTOCOL_WIRECHECK_H_
