// HTTP client component on libcurl.
//
// Requests go out exactly as built: header fields in call order with the
// values given (a "Host" field replaces the URL's authority and, as HTTP/1.1
// asks, goes first), then the Content-Type when SetContentType was called,
// then the Content-Length of a body. No "Expect", "Accept" or other headers
// of the transport's own; "Content-Length: 0" on a PUT or POST without a
// body, none on a GET or DELETE without one. A field with an empty value is
// sent as "Name:". Requests use HTTP/1.1, never a proxy, and redirects are
// never followed. Methods: GET, PUT, POST and DELETE. A request whose target
// holds a byte that cannot stand in a request line (a control byte, space or
// DEL), or whose header field holds CR, LF or NUL, is refused before
// anything is sent (CURLE_URL_MALFORMAT, CURLE_BAD_FUNCTION_ARGUMENT).
//
// Connections (and TLS sessions) are kept alive and reused across requests
// and threads. A request that fails on a reused connection before any byte
// of its answer arrived (closed, reset or broken pipe while sending or while
// waiting for the status line) goes out once more, body rewound, on a fresh
// connection; a failure on a fresh connection is reported. A request marked
// SetFreshConnection goes out on a fresh connection at once, and only once.
//
// Time-outs: SetReceiveTimeout bounds how long the answer may stall,
// SetSendTimeout how long sending the request may stall (milliseconds of no
// progress, checked about once a second). Unset or non-positive values use
// kDefaultTimeoutMs; connecting is bounded by kConnectTimeoutMs. No call
// waits forever.
//
// TLS: peers and host names are verified against the system store, or
// against the PEM bundle named by ORCA_CS_CA_BUNDLE. ORCA_CS_TLS_INSECURE=1
// turns verification off (development only; a warning is logged).
//
// HttpClient::Error: `major` is the libcurl result code (CURLcode), `minor`
// the operating-system error number behind it when libcurl knows one, else
// the CURLcode again; both are 0 after a successful exchange, and both are
// non-zero after any transport failure. A stalled exchange reports
// CURLE_OPERATION_TIMEDOUT (28), a stopped one CURLE_ABORTED_BY_CALLBACK (42).
#ifndef ORCA_PLATFORM_NET_HTTPCLIENT_H_
#define ORCA_PLATFORM_NET_HTTPCLIENT_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace Orca {
namespace Net {

inline constexpr int kDefaultTimeoutMs = 60000;
inline constexpr int kStopCheckIntervalMs = 50;
inline constexpr int kConnectTimeoutMs = 15000;
// Bodies of answers with a status of 300 or more are kept up to this size;
// the rest is read and dropped.
inline constexpr uint64_t kMaxErrorBodyKept = 1024ULL * 1024;

// A URL as text: scheme and authority, then the request target (path and
// query), which goes on the request line byte for byte as given, never
// parsed, escaped or cut (a "#" included).
class URL {
 public:
  URL() = default;
  explicit URL(std::string text) : text_(std::move(text)) {}
  // The URL text; `full` false gives the request target only.
  std::string ToStdString(bool full) const;
  // Scheme and authority, e.g. "http://10.0.0.1:8080".
  std::string Origin() const;

 private:
  size_t TargetStart() const;

  std::string text_;
};

class CHttpClientRequest {
 public:
  using HeaderFields = std::vector<std::pair<std::string, std::string>>;

  void SetURL(const URL& url) { url_ = url; }
  void SetMethod(const std::string& method) { method_ = method; }
  // One header per call, sent in call order.
  void AddHeaderField(const std::string& name, const std::string& value) {
    headers_.emplace_back(name, value);
  }
  void SetContentType(const std::string& content_type) { content_type_ = content_type; }
  // The body, owned by the request.
  void SetData(std::string body);
  // A borrowed body: `data` must stay valid until the exchange is over.
  void SetDataRef(const char* data, size_t size);
  void SetReceiveTimeout(int ms) { receive_timeout_ms_ = ms; }
  void SetSendTimeout(int ms) { send_timeout_ms_ = ms; }
  // Largest body of a successful answer that Send keeps; a longer one (or a
  // longer Content-Length) ends the transfer with BodyLimitExceeded() set.
  void SetMaxResponseBody(uint64_t bytes) { max_response_body_ = bytes; }
  // Where Send puts the body of a 200 answer that announces its length
  // (within the limit above): called once the header block is in, with that
  // length, it returns room for that many bytes, and the body is received
  // straight into it (no copy in the response; GetBody() stays empty and
  // GetReceivedLength() says how much arrived). A null result, no storage,
  // or any other status keeps the body in the response.
  using BodyStorage = std::function<char*(uint64_t length)>;
  void SetBodyStorage(BodyStorage storage) { body_storage_ = std::move(storage); }
  // Asked every kStopCheckIntervalMs at most while the exchange runs
  // (connecting, sending, waiting, receiving), on the exchange's thread;
  // true stops it with CURLE_ABORTED_BY_CALLBACK.
  using StopCheck = std::function<bool()>;
  void SetStopCheck(StopCheck check) { stop_check_ = std::move(check); }
  // A request that must never go out twice: sent on a new connection, not a
  // kept-alive one, so that it is never resent after a reused connection died.
  void SetFreshConnection(bool fresh) { fresh_connection_ = fresh; }

  const URL& GetURL() const { return url_; }
  const std::string& GetMethod() const { return method_; }
  const HeaderFields& GetHeaderFields() const { return headers_; }
  const std::string& GetContentType() const { return content_type_; }
  const char* GetData() const { return owns_body_ ? owned_body_.data() : data_; }
  size_t GetDataSize() const { return size_; }
  int GetReceiveTimeout() const { return receive_timeout_ms_; }
  int GetSendTimeout() const { return send_timeout_ms_; }
  uint64_t GetMaxResponseBody() const { return max_response_body_; }
  const BodyStorage& GetBodyStorage() const { return body_storage_; }
  const StopCheck& GetStopCheck() const { return stop_check_; }
  bool GetFreshConnection() const { return fresh_connection_; }

 private:
  URL url_;
  std::string method_ = "GET";
  HeaderFields headers_;
  std::string content_type_;
  std::string owned_body_;
  bool owns_body_ = false;  // the body is owned_body_ (stays valid when copied or moved)
  const char* data_ = nullptr;
  size_t size_ = 0;
  int receive_timeout_ms_ = 0;
  int send_timeout_ms_ = 0;
  uint64_t max_response_body_ = UINT64_MAX;
  BodyStorage body_storage_;
  StopCheck stop_check_;
  bool fresh_connection_ = false;
};

class CHttpClientResponse {
 public:
  int GetStatusCode() const { return status_; }
  // Copies the body into `data`.
  bool GetResponseData(std::string& data) const;
  // The body without a copy.
  const std::string& GetBody() const { return body_; }
  // The first field named `name` (case-insensitive); false (and `value`
  // cleared) when absent.
  bool GetHeaderField(std::string& value, const std::string& name) const;
  // Every field, by name as received (the first of repeated names wins);
  // replaces the map's contents. False when the answer had no fields.
  bool GetAllHeaders(std::map<std::string, std::string>& headers) const;
  // The Content-Length field when present, else the body bytes received.
  uint64_t GetContentLength() const;
  bool HasContentLength() const { return has_content_length_; }
  // Body bytes that arrived, including any not kept.
  uint64_t GetReceivedLength() const { return received_; }
  // False when the connection ended before the announced Content-Length.
  bool IsBodyComplete() const { return complete_; }
  // True when a successful answer was longer than SetMaxResponseBody allowed.
  bool BodyLimitExceeded() const { return limit_exceeded_; }
  // True when the request went out twice: its first copy died on a reused
  // connection before any answer, and may have reached the server.
  bool WasResent() const { return resent_; }

  // Filled in by the transport (and by tests that fake an answer).
  void Reset();
  void SetStatusCode(int status) { status_ = status; }
  void AddHeaderField(const std::string& name, const std::string& value);
  void AppendBody(const char* data, size_t size, uint64_t keep_limit);
  void ReserveBody(uint64_t size);
  void SetBodyComplete(bool complete) { complete_ = complete; }
  void SetBodyLimitExceeded() { limit_exceeded_ = true; }
  void SetResent(bool resent) { resent_ = resent; }

 private:
  std::vector<std::pair<std::string, std::string>> headers_;
  std::string body_;
  uint64_t content_length_ = 0;
  uint64_t received_ = 0;
  int status_ = 0;
  bool has_content_length_ = false;
  bool complete_ = true;
  bool limit_exceeded_ = false;
  bool resent_ = false;
};

class HttpClient {
 public:
  struct Error {
    int32_t major = 0;
    int32_t minor = 0;
  };

  // Receives a streamed answer: the answer (status and header fields
  // readable from the first call), the next piece of the body (null and 0
  // when there is none), the transport error so far, and `last` on the final
  // call. The final call carries no data.
  using RecvCallback = std::function<void(const CHttpClientResponse& response, const char* data,
                                          uint32_t size, Error error, bool last)>;

  // One exchange. True when an answer arrived, whatever its status, also
  // when its body ended early (IsBodyComplete false) or outgrew
  // SetMaxResponseBody (BodyLimitExceeded true). False on any other
  // transport failure. `error` always describes how the transfer ended.
  static bool Send(CHttpClientRequest& request, CHttpClientResponse& response, Error& error);

  // One exchange whose body is handed to `callback` piece by piece, in order,
  // on the calling thread. The callback is called at least once, and its
  // final call (`last` true, no data) carries the transport error, if any,
  // also when no answer arrived at all (status 0). Returns when the exchange
  // is over: true when it completed without a transport error. The callback
  // must not throw.
  static bool SendForBigRsp(CHttpClientRequest& request, const RecvCallback& callback);
};

// True for failures on the way that another try may not meet: refused,
// reset, timed out, cut short, nothing answered.
bool IsTransient(const HttpClient::Error& error);

}  // namespace Net
}  // namespace Orca

#endif  // ORCA_PLATFORM_NET_HTTPCLIENT_H_
