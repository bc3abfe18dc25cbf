#include "net/HttpClient.h"

#include <curl/curl.h>

#include <algorithm>

#include "net/CurlExchange.h"

namespace Orca {
namespace Net {
namespace {

// Growth beyond this is left to the string: a hostile Content-Length must not
// reserve memory that may never be filled.
constexpr uint64_t kMaxBodyReserve = 64ULL * 1024 * 1024;

// Keeps the body in the response: a successful answer up to the request's
// limit (a longer one ends the transfer), an error answer up to
// kMaxErrorBodyKept (the rest is read and dropped).
class BufferingSink : public BodySink {
 public:
  explicit BufferingSink(uint64_t max_body) : max_body_(max_body) {}

  bool OnHeaders(CHttpClientResponse& response) override {
    limited_ = response.GetStatusCode() < 300;
    keep_limit_ = limited_ ? max_body_ : kMaxErrorBodyKept;
    if (response.HasContentLength()) {
      if (limited_ && response.GetContentLength() > max_body_) {
        response.SetBodyLimitExceeded();
        return false;
      }
      response.ReserveBody(std::min({response.GetContentLength(), keep_limit_, kMaxBodyReserve}));
    }
    return true;
  }

  bool OnBody(CHttpClientResponse& response, const char* data, size_t size) override {
    response.AppendBody(data, size, keep_limit_);
    if (limited_ && response.GetReceivedLength() > max_body_) {
      response.SetBodyLimitExceeded();
      return false;
    }
    return true;
  }

 private:
  const uint64_t max_body_;
  bool limited_ = true;
  uint64_t keep_limit_ = 0;
};

// Hands each piece to the caller's callback as it arrives, without a copy.
class StreamingSink : public BodySink {
 public:
  explicit StreamingSink(const HttpClient::RecvCallback& callback) : callback_(callback) {}

  bool OnHeaders(CHttpClientResponse& /*response*/) override { return true; }

  bool OnBody(CHttpClientResponse& response, const char* data, size_t size) override {
    response.AppendBody(data, size, 0);  // counts the bytes only
    // A piece never exceeds the receive buffer, so it fits the 32-bit size.
    callback_(response, data, static_cast<uint32_t>(size), HttpClient::Error{}, false);
    return true;
  }

 private:
  const HttpClient::RecvCallback& callback_;
};

}  // namespace

bool HttpClient::Send(CHttpClientRequest& request, CHttpClientResponse& response, Error& error) {
  response.Reset();
  BufferingSink sink(request.GetMaxResponseBody());
  const ExchangeResult result = PerformExchange(request, response, sink);
  error = result.error;
  if (!result.answered) {
    return false;
  }
  if (response.BodyLimitExceeded()) {
    return true;
  }
  if (error.major != 0) {
    response.SetBodyComplete(false);
  }
  return error.major == 0 || error.major == CURLE_PARTIAL_FILE;
}

bool HttpClient::SendForBigRsp(CHttpClientRequest& request, const RecvCallback& callback) {
  CHttpClientResponse response;
  StreamingSink sink(callback);
  const ExchangeResult result = PerformExchange(request, response, sink);
  if (result.answered && result.error.major != 0) {
    response.SetBodyComplete(false);
  }
  callback(response, nullptr, 0, result.error, true);
  return result.error.major == 0;
}

}  // namespace Net
}  // namespace Orca
