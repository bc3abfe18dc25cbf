#include "RawClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <stdexcept>

namespace orca_test {
namespace {

std::string Md5HeaderOf(const RawRequest& request) {
  const bool body = !request.body.empty() || request.method == "PUT" || request.method == "POST";
  return !request.md5.empty()          ? request.md5
         : request.content_md5 && body ? ContentMd5Of(request.body)
                                       : "";
}

// The HTTP library labels a body without a type text/plain; that is signed.
std::string ContentTypeOf(const RawRequest& request) {
  return request.content_type.empty() && !request.body.empty() ? "text/plain"
                                                               : request.content_type;
}

}  // namespace

std::string ClientDate(int64_t offset_seconds) {
  const std::time_t now = std::time(nullptr) + offset_seconds;
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[64];
  std::strftime(text, sizeof(text), "%a, %e %b %Y %H:%M:%S GMT", &utc);
  return text;
}

std::string XmlText(const std::string& body, const std::string& name) {
  const size_t start = body.find("<" + name + ">");
  const size_t end = body.find("</" + name + ">", start);
  return end == std::string::npos
             ? ""
             : body.substr(start + name.size() + 2, end - start - name.size() - 2);
}

std::string StringToSign(const RawRequest& request, const std::string& date) {
  std::string type = ContentTypeOf(request);
  if (request.picture) {
    type = type.substr(0, type.find(';'));
  }
  return request.method + "\n" + Md5HeaderOf(request) + "\n" + type + "\n" + date + "\n" +
         (request.picture ? "" : "\n") + request.target;
}

RawClient::RawClient(const Emulator& emulator, int port)
    : client_((emulator.https() ? "https://127.0.0.1:" : "http://127.0.0.1:") +
              std::to_string(port)) {
  if (emulator.https()) {
    client_.set_ca_cert_path(emulator.ca_bundle());
    client_.enable_server_certificate_verification(true);
  }
  client_.set_keep_alive(true);
  client_.set_url_encode(false);
  client_.set_read_timeout(30, 0);
}

httplib::Result RawClient::Send(const RawRequest& request) {
  httplib::Request req;
  req.method = request.method;
  req.path = request.target;
  req.body = request.body;
  if (const std::string type = ContentTypeOf(request); !type.empty()) {
    req.set_header("Content-Type", type);
  }
  if (const std::string md5 = Md5HeaderOf(request); !md5.empty()) {
    req.set_header("Content-MD5", md5);
  }
  if (request.sign) {
    const EmulatorPool& pool = Emulator::pool(request.pool);
    const std::string date = request.date.empty() ? ClientDate() : request.date;
    req.set_header("Date", date);
    req.set_header("Authorization", "quarnbox " + (request.ak.empty() ? pool.ak : request.ak) +
                                        ":" + HmacBase64(StringToSign(request, date), pool.sk));
  }
  req.headers.insert(request.headers.begin(), request.headers.end());
  return client_.send(req);
}

httplib::Result ObjectSession::Get(const std::string& key, const std::string& range) {
  RawRequest request{"GET", "/pool1/" + key};
  if (!range.empty()) {
    request.headers.emplace("Range", range);
  }
  return download.Send(request);
}

std::string ObjectSession::Initiate(const std::string& key) {
  const auto result = upload.Send(RawRequest{"POST", "/pool1/" + key + "?uploads"});
  return result && result->status == 200 ? XmlText(result->body, "UploadId") : "";
}

httplib::Result ObjectSession::PutPart(const std::string& key, const std::string& id,
                                       uint32_t number, const std::string& body) {
  const std::string query = "?upload_id=" + id + "&part_number=" + std::to_string(number);
  return node.Send(RawRequest{"POST", "/pool1/" + key + query, body, "binary/octet-stream"});
}

std::string ObjectSession::CompletionDocument(
    const std::vector<std::pair<uint32_t, size_t>>& parts) {
  std::string xml =
      "<CompleteMultipartUpload><TotalPartNum>" + std::to_string(parts.size()) + "</TotalPartNum>";
  for (const auto& [number, size] : parts) {
    xml += "<Part><PartNumber>" + std::to_string(number) + "</PartNumber><PartSize>" +
           std::to_string(size) + "</PartSize><ETag/></Part>";
  }
  return xml + "</CompleteMultipartUpload>";
}

std::string WireAnswer::Header(const std::string& name) const {
  const size_t at = head.find("\r\n" + name + ": ");
  const size_t start = at + name.size() + 4;
  return at == std::string::npos ? "" : head.substr(start, head.find("\r\n", start) - start);
}

WireAnswer ExchangeOnWire(int port, const std::string& request, bool hang_up) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
          static_cast<ssize_t>(request.size())) {
    throw std::runtime_error("cannot send to port " + std::to_string(port));
  }
  const timeval timeout{30, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
  std::string received;
  char buffer[65536];
  ssize_t n = 0;
  while (!hang_up && (n = ::recv(fd, buffer, sizeof(buffer), 0)) > 0) {
    received.append(buffer, static_cast<size_t>(n));
  }
  const int error = n < 0 ? errno : 0;
  ::close(fd);
  const size_t end = received.find("\r\n\r\n");
  return {received.substr(0, end), end == std::string::npos ? "" : received.substr(end + 4), error};
}

}  // namespace orca_test
