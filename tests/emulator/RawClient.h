// Raw requests to the emulator, signed by the tests' own OpenSSL signer (not
// the emulator's code nor the library's), and bare-socket exchanges that show
// what a fault does on the wire.
#ifndef ORCA_TESTS_EMULATOR_RAWCLIENT_H_
#define ORCA_TESTS_EMULATOR_RAWCLIENT_H_

#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Emulator.h"
#include "WireCheck.h"  // HmacBase64, ContentMd5Of

namespace orca_test {

// The client's Date form (RFC 1123, day padded with a space), now + offset.
std::string ClientDate(int64_t offset_seconds = 0);
// The text of element `name` in an XML body, or "".
std::string XmlText(const std::string& body, const std::string& name);

inline EmulatorOptions Options(bool https, bool no_auth = false) {
  EmulatorOptions options;
  options.https = https;
  options.no_auth = no_auth;
  return options;
}

// `options` with link emulation set by `link` ("--latency-ms", "50", ...).
inline EmulatorOptions WithLink(EmulatorOptions options, const std::vector<std::string>& link) {
  options.extra_args.insert(options.extra_args.end(), link.begin(), link.end());
  return options;
}

// A short, fast link: enough to send every byte through the relay and its pacers.
inline const std::vector<std::string> kShortLink = {"--latency-ms", "5", "--bandwidth-mbit",
                                                    "1000"};

// For suites run directly and through a link (a bool parameter).
inline std::string LinkCaseName(const ::testing::TestParamInfo<bool>& info) {
  return info.param ? "ThroughALink" : "Direct";
}

struct RawRequest {
  std::string method = "GET";
  std::string target{};  // path and query, sent as they are
  std::string body{};
  std::string content_type{};  // header and signed value; "" for none
  bool picture = false;        // picture layout of the string to sign
  bool sign = true;            // add Date and Authorization
  bool content_md5 = true;     // add Content-MD5 to a body, a PUT or a POST
  std::string date{};          // overrides ClientDate()
  std::string md5{};           // overrides the computed Content-MD5
  size_t pool = 0;             // whose keys sign
  std::string ak{};            // overrides the pool's access key
  httplib::Headers headers{};  // further fields
};

// The string to sign of `request` sent with `date`, as the service computes it.
std::string StringToSign(const RawRequest& request, const std::string& date);

// A keep-alive connection to one port, verified HTTPS when the emulator serves it.
class RawClient {
 public:
  RawClient(const Emulator& emulator, int port);
  httplib::Result Send(const RawRequest& request);

 private:
  httplib::Client client_;
};

// The object protocol in pool1: uploads to the first data node.
struct ObjectSession {
  explicit ObjectSession(const Emulator& emulator)
      : upload(emulator, emulator.endpoints().upload),
        download(emulator, emulator.endpoints().download),
        node(emulator, emulator.endpoints().nodes.at(0)) {}

  httplib::Result Put(const std::string& key, const std::string& body) {
    return node.Send(RawRequest{"PUT", "/pool1/" + key, body, "binary/octet-stream"});
  }
  httplib::Result Get(const std::string& key, const std::string& range = "");
  // The upload id, or "" when the upload could not be opened.
  std::string Initiate(const std::string& key);
  httplib::Result PutPart(const std::string& key, const std::string& id, uint32_t number,
                          const std::string& body);
  httplib::Result Complete(const std::string& key, const std::string& id,
                           const std::string& document) {
    return upload.Send(RawRequest{"POST", "/pool1/" + key + "?upload_id=" + id, document});
  }
  // A CompleteMultipartUpload document listing (number, size) in order.
  static std::string CompletionDocument(const std::vector<std::pair<uint32_t, size_t>>& parts);

  RawClient upload;
  RawClient download;
  RawClient node;
};

struct WireAnswer {
  std::string head;  // status line and fields, without the blank line
  std::string body;  // every byte after the head as received (chunked stays encoded)
  int error = 0;     // errno of a failed read (ECONNRESET for a reset), 0 at a clean end

  int status() const { return head.size() > 12 ? std::stoi(head.substr(9, 3)) : 0; }
  std::string Header(const std::string& name) const;  // "" when absent
};

// Sends `request` to 127.0.0.1:`port` and reads until the peer ends the
// connection (ask for "Connection: close") or 30 s pass; `hang_up` closes at once.
WireAnswer ExchangeOnWire(int port, const std::string& request, bool hang_up = false);

}  // namespace orca_test

#endif  // ORCA_TESTS_EMULATOR_RAWCLIENT_H_
