// Request dates and signatures.
//
// The object protocol signs
//   method LF content-md5 LF content-type LF date LF headers LF resource
// and the picture gateway the same without the headers line. The signature
// is the Base64 of the HMAC-SHA1 of that text keyed with the secret key, and
// goes out as "Authorization: quarnbox <ak>:<signature>".
#ifndef ORCA_CS_SIGNATURE_H_
#define ORCA_CS_SIGNATURE_H_

#include <cstdint>
#include <string>

namespace Orca {
namespace CloudStorage {

// RFC 1123 date of `unix_seconds` in UTC, the day padded with a space:
// "Fri,  4 Dec 2026 12:55:16 GMT". Empty when the time cannot be converted.
std::string FormatHttpDate(int64_t unix_seconds);
// FormatHttpDate of the current time.
std::string MakeHttpDate();

// Base64 of HMAC-SHA1(`key`, `text`): always 28 characters.
std::string SignText(const std::string& text, const std::string& key);

std::string MakeSignature(const std::string& method, const std::string& content_md5,
                          const std::string& content_type, const std::string& date,
                          const std::string& headers, const std::string& resource,
                          const std::string& key);

std::string MakePicSignature(const std::string& method, const std::string& content_md5,
                             const std::string& content_type, const std::string& date,
                             const std::string& resource, const std::string& key);

// "quarnbox " + ak + ":" + signature
std::string MakeAuthorization(const std::string& ak, const std::string& signature);

}  // namespace CloudStorage
}  // namespace Orca

#endif  // ORCA_CS_SIGNATURE_H_
