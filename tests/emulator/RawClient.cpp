#include "RawClient.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <array>
#include <cstdio>
#include <ctime>

namespace orca_test {
namespace {

std::string Base64(const unsigned char* data, size_t size) {
  std::string out(4 * ((size + 2) / 3) + 1, '\0');
  const int n =
      EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data, static_cast<int>(size));
  out.resize(static_cast<size_t>(n));
  return out;
}

// The Content-MD5 the request carries, or "".
std::string ContentMd5Of(const RawRequest& request) {
  if (!request.md5.empty()) {
    return request.md5;
  }
  const bool has_body =
      !request.body.empty() || request.method == "PUT" || request.method == "POST";
  return request.content_md5 && has_body ? ProtocolContentMd5(request.body) : "";
}

}  // namespace

std::string ClientDate(int64_t offset_seconds) {
  static constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed",
                                                       "Thu", "Fri", "Sat"};
  static constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t now = std::time(nullptr) + offset_seconds;
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[64];
  std::snprintf(text, sizeof(text), "%s, %2d %s %d %02d:%02d:%02d GMT", kDays[utc.tm_wday],
                utc.tm_mday, kMonths[utc.tm_mon], utc.tm_year + 1900, utc.tm_hour, utc.tm_min,
                utc.tm_sec);
  return text;
}

std::string Md5HexOf(const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr);
  std::string hex;
  char pair[3];
  for (unsigned int i = 0; i < length; ++i) {
    std::snprintf(pair, sizeof(pair), "%02x", digest[i]);
    hex += pair;
  }
  return hex;
}

std::string ProtocolContentMd5(const std::string& body) {
  const std::string hex = Md5HexOf(body);
  return Base64(reinterpret_cast<const unsigned char*>(hex.data()), hex.size());
}

std::string Sign(const std::string& sk, const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(EVP_sha1(), sk.data(), static_cast<int>(sk.size()),
       reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest, &length);
  return Base64(digest, length);
}

RawClient::RawClient(const Emulator& emulator, int port) {
  const std::string scheme = emulator.https() ? "https://" : "http://";
  client_ = std::make_unique<httplib::Client>(scheme + "127.0.0.1:" + std::to_string(port));
  if (emulator.https()) {
    client_->set_ca_cert_path(emulator.ca_bundle());
    client_->enable_server_certificate_verification(true);
  }
  client_->set_keep_alive(true);
  client_->set_url_encode(false);
  client_->set_decompress(false);
  client_->set_read_timeout(30, 0);
}

std::string RawClient::StringToSign(const RawRequest& request, const std::string& date) {
  std::string content_type = request.content_type;
  if (request.picture) {
    content_type = content_type.substr(0, content_type.find(';'));
  }
  const std::string resource =
      request.target.compare(0, 2, "/?") == 0 ? request.target.substr(1) : request.target;
  return request.method + "\n" + ContentMd5Of(request) + "\n" + content_type + "\n" + date + "\n" +
         (request.picture ? "" : "\n") + resource;
}

httplib::Result RawClient::Send(const RawRequest& original) {
  // The HTTP library labels a body without a type text/plain; sign that.
  RawRequest request = original;
  if (!request.body.empty() && request.content_type.empty()) {
    request.content_type = "text/plain";
  }
  httplib::Request req;
  req.method = request.method;
  req.path = request.target;
  req.body = request.body;
  const EmulatorPool& pool = Emulator::pool(request.pool);
  const std::string date = request.date.empty() ? ClientDate() : request.date;
  if (!request.content_type.empty()) {
    req.set_header("Content-Type", request.content_type);
  }
  if (const std::string md5 = ContentMd5Of(request); !md5.empty()) {
    req.set_header("Content-MD5", md5);
  }
  if (request.sign) {
    req.set_header("Date", date);
    const std::string ak = request.ak.empty() ? pool.ak : request.ak;
    req.set_header("Authorization",
                   "quarnbox " + ak + ":" + Sign(pool.sk, StringToSign(request, date)));
  }
  if (!request.range.empty()) {
    req.set_header("Range", request.range);
  }
  for (const auto& [name, value] : request.headers) {
    req.set_header(name, value);
  }
  return client_->send(req);
}

httplib::Result RawClient::Get(const std::string& target, bool picture) {
  RawRequest request;
  request.target = target;
  request.picture = picture;
  return Send(request);
}

std::string XmlText(const std::string& body, const std::string& name) {
  const std::string open = "<" + name + ">";
  const size_t start = body.find(open);
  if (start == std::string::npos) {
    return "";
  }
  const size_t end = body.find("</" + name + ">", start);
  return end == std::string::npos ? ""
                                  : body.substr(start + open.size(), end - start - open.size());
}

ObjectSession::ObjectSession(const Emulator& emulator, size_t pool)
    : upload(emulator, emulator.endpoints().upload),
      download(emulator, emulator.endpoints().download),
      node(emulator, emulator.endpoints().nodes.at(0)),
      pool_(pool),
      pool_name_(Emulator::pool(pool).name) {}

RawRequest ObjectSession::Signed(const std::string& method, const std::string& target) const {
  RawRequest request;
  request.method = method;
  request.target = target;
  request.pool = pool_;
  return request;
}

httplib::Result ObjectSession::Put(const std::string& key, const std::string& body) {
  RawRequest request = Signed("PUT", Target(key));
  request.body = body;
  request.content_type = "binary/octet-stream";
  return node.Send(request);
}

httplib::Result ObjectSession::Get(const std::string& key, const std::string& range) {
  RawRequest request = Signed("GET", Target(key));
  request.range = range;
  return download.Send(request);
}

std::string ObjectSession::Initiate(const std::string& key) {
  const auto result = upload.Send(Signed("POST", Target(key) + "?uploads"));
  return result && result->status == 200 ? XmlText(result->body, "UploadId") : "";
}

httplib::Result ObjectSession::PutPart(const std::string& key, const std::string& upload_id,
                                       uint32_t number, const std::string& body) {
  RawRequest request = Signed(
      "POST", Target(key) + "?upload_id=" + upload_id + "&part_number=" + std::to_string(number));
  request.body = body;
  request.content_type = "binary/octet-stream";
  return node.Send(request);
}

httplib::Result ObjectSession::Complete(const std::string& key, const std::string& upload_id,
                                        const std::string& document) {
  RawRequest request = Signed("POST", Target(key) + "?upload_id=" + upload_id);
  request.body = document;
  request.content_type = "application/xml";
  return upload.Send(request);
}

std::string ObjectSession::CompletionDocument(
    const std::vector<std::pair<uint32_t, size_t>>& parts) {
  std::string xml = "<?xml version=\"1.0\"?>\n<CompleteMultipartUpload>\n  <TotalPartNum>" +
                    std::to_string(parts.size()) + "</TotalPartNum>\n";
  for (const auto& [number, size] : parts) {
    xml += "  <Part>\n    <PartNumber>" + std::to_string(number) + "</PartNumber>\n    <PartSize>" +
           std::to_string(size) + "</PartSize>\n    <ETag />\n  </Part>\n";
  }
  return xml + "</CompleteMultipartUpload>\n";
}

}  // namespace orca_test
