// Request signatures as the service computes them: the two string-to-sign
// layouts, the Authorization value and the signed resource.
#ifndef OCS_EMULATOR_SERVICE_SIGNING_H_
#define OCS_EMULATOR_SERVICE_SIGNING_H_

#include <optional>
#include <string>

namespace ocs {

// What a signature covers, as taken from the request.
struct SignInputs {
  std::string method;
  std::string content_md5;   // the Content-MD5 header, or empty
  std::string content_type;  // as the layout wants it (see below)
  std::string date;          // the Date header
  std::string resource;      // see SignedResource
};

// Object protocol: method, Content-MD5, content type, date, an empty line of
// canonical headers and the resource, joined by LF. The content type is the
// Content-Type header exactly as sent.
std::string ObjectStringToSign(const SignInputs& in);

// Picture gateway: the same without the canonical-headers line. The content
// type is the media type of the Content-Type header, without parameters.
std::string PictureStringToSign(const SignInputs& in);

// "quarnbox <ak>:<signature>".
struct Credentials {
  std::string ak;
  std::string signature;
};
std::optional<Credentials> ParseAuthorization(const std::string& value);

// The signed resource of a request target (path and query as sent): the
// target itself, except that a query on the root path signs without the
// leading "/" ("/?version" signs "?version").
std::string SignedResource(const std::string& target);

// "multipart/form-data; boundary=x" gives "multipart/form-data".
std::string MediaType(const std::string& content_type);

// The string to sign with its line feeds shown as "\n", for error messages.
std::string ShowLineFeeds(const std::string& text);

}  // namespace ocs

#endif  // OCS_EMULATOR_SERVICE_SIGNING_H_
