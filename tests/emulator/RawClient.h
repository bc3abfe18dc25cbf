// Raw HTTP requests to the emulator for its own tests, signed by a small
// OpenSSL signer of the test's own (independent of the emulator's code and
// of the library's).
#ifndef ORCA_TESTS_EMULATOR_RAWCLIENT_H_
#define ORCA_TESTS_EMULATOR_RAWCLIENT_H_

#include <httplib.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Emulator.h"

namespace orca_test {

// The client's Date form (RFC 1123, UTC, day padded with a space) for now
// plus `offset_seconds`.
std::string ClientDate(int64_t offset_seconds = 0);
// Base64 of the 32 hex digits of the MD5 of `body`.
std::string ProtocolContentMd5(const std::string& body);
// Base64 of HMAC-SHA1(sk, text).
std::string Sign(const std::string& sk, const std::string& text);
std::string Md5HexOf(const std::string& data);

struct RawRequest {
  std::string method = "GET";
  std::string target;  // path and query, sent as they are
  std::string body;
  std::string content_type;  // header and signed value (objects); "" for none
  bool picture = false;      // picture layout of the string to sign
  bool sign = true;          // add Date and Authorization
  bool content_md5 = true;   // add Content-MD5 when there is a body (or PUT/POST)
  std::string date;          // overrides ClientDate()
  std::string md5;           // overrides the computed Content-MD5
  std::string range;         // "bytes=..." when not empty
  size_t pool = 0;           // whose keys sign
  std::string ak;            // overrides the pool's access key
  std::vector<std::pair<std::string, std::string>> headers;  // further fields
};

class RawClient {
 public:
  // Talks to `port` of `emulator` (HTTPS, verified, when it serves HTTPS).
  RawClient(const Emulator& emulator, int port);

  httplib::Result Send(const RawRequest& original);
  // A GET of `target`, signed for pool 0 (picture layout when `picture`).
  httplib::Result Get(const std::string& target, bool picture = false);
  // The string to sign of `request` as the service should compute it.
  static std::string StringToSign(const RawRequest& request, const std::string& date);

 private:
  std::unique_ptr<httplib::Client> client_;
};

// The text of element `name` in an XML body, or "".
std::string XmlText(const std::string& body, const std::string& name);

// The object protocol step by step, signed for one pool: uploads go to the
// first data node, downloads to the download port.
class ObjectSession {
 public:
  explicit ObjectSession(const Emulator& emulator, size_t pool = 0);

  std::string Target(const std::string& key) const { return "/" + pool_name_ + "/" + key; }
  httplib::Result Put(const std::string& key, const std::string& body);
  httplib::Result Get(const std::string& key, const std::string& range = "");
  // The upload id, or "" when the upload could not be opened.
  std::string Initiate(const std::string& key);
  httplib::Result PutPart(const std::string& key, const std::string& upload_id, uint32_t number,
                          const std::string& body);
  httplib::Result Complete(const std::string& key, const std::string& upload_id,
                           const std::string& document);
  // A CompleteMultipartUpload document listing (number, size) in order.
  static std::string CompletionDocument(const std::vector<std::pair<uint32_t, size_t>>& parts);

  RawClient upload;
  RawClient download;
  RawClient node;

 private:
  RawRequest Signed(const std::string& method, const std::string& target) const;

  size_t pool_;
  std::string pool_name_;
};

}  // namespace orca_test

#endif  // ORCA_TESTS_EMULATOR_RAWCLIENT_H_
