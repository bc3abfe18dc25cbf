#include "net/HttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>

#include "net/CurlExchange.h"

namespace Orca {
namespace Net {
namespace {

// Growth beyond this is left to the string: a hostile Content-Length must not
// reserve memory that may never be filled.
constexpr uint64_t kMaxBodyReserve = 64ULL * 1024 * 1024;

// Keeps the body in the response (or, for a 200 answer, in the request's
// body storage): a successful answer up to the request's limit (a longer one
// ends the transfer), an error answer up to kMaxErrorBodyKept (the rest is
// read and dropped).
class BufferingSink : public BodySink {
 public:
  explicit BufferingSink(const CHttpClientRequest& request)
      : max_body_(request.GetMaxResponseBody()), storage_(request.GetBodyStorage()) {}

  bool OnHeaders(CHttpClientResponse& response) override {
    limited_ = response.GetStatusCode() < 300;
    keep_limit_ = limited_ ? max_body_ : kMaxErrorBodyKept;
    stored_ = nullptr;
    if (response.HasContentLength()) {
      const uint64_t length = response.GetContentLength();
      if (limited_ && length > max_body_) {
        response.SetBodyLimitExceeded();
        return false;
      }
      if (response.GetStatusCode() == 200 && storage_) {
        stored_ = storage_(length);
        stored_size_ = length;
      }
      if (stored_ == nullptr) {
        response.ReserveBody(std::min({length, keep_limit_, kMaxBodyReserve}));
      }
    }
    return true;
  }

  bool OnBody(CHttpClientResponse& response, const char* data, size_t size) override {
    if (stored_ != nullptr) {
      const uint64_t offset = response.GetReceivedLength();
      if (size > stored_size_ - offset) {  // more than announced: never from libcurl
        response.SetBodyLimitExceeded();
        return false;
      }
      std::memcpy(stored_ + offset, data, size);
      response.AppendBody(data, size, 0);  // counts the bytes only
      return true;
    }
    response.AppendBody(data, size, keep_limit_);
    if (limited_ && response.GetReceivedLength() > max_body_) {
      response.SetBodyLimitExceeded();
      return false;
    }
    return true;
  }

 private:
  const uint64_t max_body_;
  const CHttpClientRequest::BodyStorage& storage_;
  bool limited_ = true;
  uint64_t keep_limit_ = 0;
  char* stored_ = nullptr;  // the storage of the current answer's body, if any
  uint64_t stored_size_ = 0;
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
  BufferingSink sink(request);
  const ExchangeResult result = PerformExchange(request, response, sink);
  response.SetResent(result.resent);
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

bool IsTransient(const HttpClient::Error& error) {
  switch (error.major) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_PARTIAL_FILE:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
      return true;
    default:
      return false;
  }
}

}  // namespace Net
}  // namespace Orca
