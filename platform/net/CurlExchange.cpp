#include "net/CurlExchange.h"

#include <curl/curl.h>

#include <algorithm>
#include <charconv>
#include <memory>
#include <string>
#include <string_view>

#include "net/CurlPool.h"
#include "net/StallWatch.h"
#include "net/TlsSettings.h"

namespace Orca {
namespace Net {
namespace {

// Large buffers mean fewer system calls and callbacks on big bodies.
constexpr long kReceiveBufferSize = 512L * 1024;
constexpr long kUploadBufferSize = 512L * 1024;

using HeaderList = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

// Sets options in turn and keeps the first failure.
class OptionSetter {
 public:
  explicit OptionSetter(CURL* curl) : curl_(curl) {}

  template <typename T>
  void operator()(CURLoption option, T value) {
    if (result_ == CURLE_OK) {
      result_ = curl_easy_setopt(curl_, option, value);
    }
  }
  CURLcode result() const { return result_; }

 private:
  CURL* curl_;
  CURLcode result_ = CURLE_OK;
};

bool AppendLine(HeaderList& list, const std::string& line) {
  curl_slist* head = curl_slist_append(list.get(), line.c_str());
  if (head == nullptr) {
    return false;
  }
  if (list == nullptr) {
    list.reset(head);
  }
  return true;
}

// The caller's fields in order, then the Content-Type, then suppressions of
// the fields libcurl adds by itself. For libcurl, "Name:" suppresses a field
// and "Name;" sends one with an empty value.
bool BuildHeaderList(const CHttpClientRequest& request, HeaderList& list) {
  for (const auto& field : request.GetHeaderFields()) {
    const std::string line =
        field.second.empty() ? field.first + ";" : field.first + ": " + field.second;
    if (!AppendLine(list, line)) {
      return false;
    }
  }
  const std::string& content_type = request.GetContentType();
  return AppendLine(list, "Content-Type:" + (content_type.empty() ? "" : " " + content_type)) &&
         AppendLine(list, "Expect:") && AppendLine(list, "Accept:");
}

// Why the request cannot go out as built: a target byte that cannot stand in
// a request line, or a header field that would break its line.
CURLcode RefusedText(const CHttpClientRequest& request) {
  const std::string target = request.GetURL().ToStdString(false);
  if (std::any_of(target.begin(), target.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte == 0x7f;
      })) {
    return CURLE_URL_MALFORMAT;
  }
  const auto breaks_line = [](const std::string& text) {
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
  };
  for (const auto& [name, value] : request.GetHeaderFields()) {
    if (breaks_line(name) || breaks_line(value)) {
      return CURLE_BAD_FUNCTION_ARGUMENT;
    }
  }
  return breaks_line(request.GetContentType()) ? CURLE_BAD_FUNCTION_ARGUMENT : CURLE_OK;
}

// PUT and POST always carry a body (maybe empty, then "Content-Length: 0");
// other methods only when one was set.
bool CarriesBody(const CHttpClientRequest& request) {
  const std::string& method = request.GetMethod();
  return request.GetDataSize() > 0 || method == "PUT" || method == "POST";
}

std::string_view TrimLine(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// "HTTP/1.1 200 OK" -> 200; 0 when there is no number.
int ParseStatus(std::string_view status_line) {
  const size_t space = status_line.find(' ');
  int status = 0;
  if (space != std::string_view::npos) {
    std::from_chars(status_line.data() + space + 1, status_line.data() + status_line.size(),
                    status);
  }
  return status;
}

class Exchange {
 public:
  Exchange(const CHttpClientRequest& request, CHttpClientResponse& response, BodySink& sink)
      : request_(request),
        response_(response),
        sink_(sink),
        stall_(request.GetSendTimeout(), request.GetReceiveTimeout(),
               CarriesBody(request) ? request.GetDataSize() : 0) {}

  ExchangeResult Run();

 private:
  using Clock = StallWatch::Clock;

  // One transfer on a handle of the pool; `resend` tells whether it died on
  // a reused connection before any answer byte.
  ExchangeResult Attempt(bool fresh_connection, bool& resend);
  CURLcode Configure(CURL* curl, curl_slist* headers, bool fresh_connection);
  void SetMethodAndBody(OptionSetter& set) const;
  // The transfer, asking the request's stop check between waits.
  CURLcode Transfer(CURLM* multi, CURL* curl);
  // Asks the request's stop check until it says stop, then remembers it.
  bool StopRequested();
  bool DiedOnReusedConnection(CURL* curl, CURLcode code) const;
  bool OnHeaderLine(std::string_view line);
  bool OnBodyPiece(const char* data, size_t size);
  bool OnProgress(curl_off_t downloaded, curl_off_t uploaded);

  // libcurl's C callbacks; `self` is the Exchange.
  static size_t HeaderCallback(char* data, size_t size, size_t count, void* self) {
    const size_t bytes = size * count;
    return static_cast<Exchange*>(self)->OnHeaderLine(std::string_view(data, bytes)) ? bytes : 0;
  }
  static size_t WriteCallback(char* data, size_t size, size_t count, void* self) {
    const size_t bytes = size * count;
    return static_cast<Exchange*>(self)->OnBodyPiece(data, bytes) ? bytes : 0;
  }
  static int ProgressCallback(void* self, curl_off_t /*dltotal*/, curl_off_t dlnow,
                              curl_off_t /*ultotal*/, curl_off_t ulnow) {
    return static_cast<Exchange*>(self)->OnProgress(dlnow, ulnow) ? 0 : 1;
  }
  static int ConnectedCallback(void* self, char* /*remote_ip*/, char* /*local_ip*/,
                               int /*remote_port*/, int /*local_port*/) {
    static_cast<Exchange*>(self)->stall_.Start(Clock::now());
    return CURL_PREREQFUNC_OK;
  }

  const CHttpClientRequest& request_;
  CHttpClientResponse& response_;
  BodySink& sink_;
  StallWatch stall_;
  bool in_header_block_ = false;
  bool answer_started_ = false;  // a byte of the answer arrived
  bool answered_ = false;
  bool stalled_ = false;
  bool stopped_ = false;  // the stop check asked to end the transfer
};

// A server may close an idle kept-alive connection just as the next request
// goes out on it. A request that fails on a reused connection before any
// byte of its answer arrived therefore goes out once more, on a fresh
// connection of another handle, whatever its method: the server never
// answered it. The body is handed to libcurl in place, so the second
// transfer sends it again from its start.
ExchangeResult Exchange::Run() {
  bool resend = false;
  ExchangeResult result = Attempt(request_.GetFreshConnection(), resend);
  if (resend) {
    response_.Reset();
    in_header_block_ = false;
    result = Attempt(true, resend);
    result.resent = true;
  }
  return result;
}

ExchangeResult Exchange::Attempt(bool fresh_connection, bool& resend) {
  EasyHandleLease lease;
  CURL* curl = lease.get();
  HeaderList headers(nullptr, &curl_slist_free_all);
  CURLcode code = RefusedText(request_);
  if (code == CURLE_OK && (curl == nullptr || lease.multi() == nullptr)) {
    code = CURLE_FAILED_INIT;
  }
  if (code == CURLE_OK) {
    code = BuildHeaderList(request_, headers) ? Configure(curl, headers.get(), fresh_connection)
                                              : CURLE_OUT_OF_MEMORY;
  }
  if (code == CURLE_OK) {
    code = Transfer(lease.multi(), curl);
    resend = !fresh_connection && DiedOnReusedConnection(curl, code);
  }
  long os_errno = 0;
  if (stalled_) {
    code = CURLE_OPERATION_TIMEDOUT;
  } else if (stopped_) {
    code = CURLE_ABORTED_BY_CALLBACK;
  } else if (code != CURLE_OK && curl != nullptr) {
    curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &os_errno);
  }
  ExchangeResult result;
  result.answered = answered_;
  if (code != CURLE_OK) {
    result.error.major = code;
    result.error.minor = os_errno != 0 ? static_cast<int32_t>(os_errno) : code;
  }
  return result;
}

CURLcode Exchange::Transfer(CURLM* multi, CURL* curl) {
  if (curl_multi_add_handle(multi, curl) != CURLM_OK) {
    return CURLE_FAILED_INIT;
  }
  CURLcode result = CURLE_OK;
  while (true) {
    int running = 0;
    if (curl_multi_perform(multi, &running) != CURLM_OK) {
      result = CURLE_OUT_OF_MEMORY;
      break;
    }
    int queued = 0;
    const CURLMsg* done = curl_multi_info_read(multi, &queued);
    if (done != nullptr && done->msg == CURLMSG_DONE) {
      result = done->data.result;
      break;
    }
    if (StopRequested()) {
      result = CURLE_ABORTED_BY_CALLBACK;
      break;
    }
    // Returns early on socket activity or when libcurl's own timers are due.
    if (curl_multi_poll(multi, nullptr, 0, kStopCheckIntervalMs, nullptr) != CURLM_OK) {
      result = CURLE_OUT_OF_MEMORY;
      break;
    }
  }
  curl_multi_remove_handle(multi, curl);
  return result;
}

bool Exchange::StopRequested() {
  if (!stopped_) {
    const CHttpClientRequest::StopCheck& check = request_.GetStopCheck();
    stopped_ = check && check();
  }
  return stopped_;
}

bool Exchange::DiedOnReusedConnection(CURL* curl, CURLcode code) const {
  if (answer_started_ || stalled_ ||
      (code != CURLE_SEND_ERROR && code != CURLE_RECV_ERROR && code != CURLE_GOT_NOTHING)) {
    return false;
  }
  // libcurl counts the connections it opened for the transfer: none means
  // the request went out (and died) on a reused one.
  long new_connections = 0;
  return curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &new_connections) == CURLE_OK &&
         new_connections == 0;
}

CURLcode Exchange::Configure(CURL* curl, curl_slist* headers, bool fresh_connection) {
  // libcurl reaches the origin; the target goes on the request line as it
  // was signed, byte for byte.
  const std::string origin = request_.GetURL().Origin() + "/";
  const std::string target = request_.GetURL().ToStdString(false);
  OptionSetter set(curl);
  set(CURLOPT_URL, origin.c_str());
  set(CURLOPT_REQUEST_TARGET, target.c_str());
  set(CURLOPT_FRESH_CONNECT, fresh_connection ? 1L : 0L);
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_PROXY, "");  // the service is reached directly, whatever *_proxy says
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  set(CURLOPT_PATH_AS_IS, 1L);
  set(CURLOPT_FOLLOWLOCATION, 0L);
  set(CURLOPT_TCP_NODELAY, 1L);
  set(CURLOPT_TCP_KEEPALIVE, 1L);
  // Buffer sizes are hints: libcurl refuses to change them on a handle whose
  // previous transfer failed before it started (it keeps its buffer), and
  // the default sizes work too.
  curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
  curl_easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, kUploadBufferSize);
  set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(kConnectTimeoutMs));
  set(CURLOPT_HTTPHEADER, headers);
  set(CURLOPT_HEADERFUNCTION, static_cast<curl_write_callback>(&Exchange::HeaderCallback));
  set(CURLOPT_HEADERDATA, this);
  set(CURLOPT_WRITEFUNCTION, static_cast<curl_write_callback>(&Exchange::WriteCallback));
  set(CURLOPT_WRITEDATA, this);
  set(CURLOPT_NOPROGRESS, 0L);
  set(CURLOPT_XFERINFOFUNCTION, static_cast<curl_xferinfo_callback>(&Exchange::ProgressCallback));
  set(CURLOPT_XFERINFODATA, this);
  set(CURLOPT_PREREQFUNCTION, static_cast<curl_prereq_callback>(&Exchange::ConnectedCallback));
  set(CURLOPT_PREREQDATA, this);
  SetMethodAndBody(set);

  const TlsSettings tls = CurrentTlsSettings();
  if (!tls.verify) {
    set(CURLOPT_SSL_VERIFYPEER, 0L);
    set(CURLOPT_SSL_VERIFYHOST, 0L);
  } else if (!tls.ca_bundle.empty()) {
    // The bundle alone is trusted, not the system's CA folder besides it.
    set(CURLOPT_CAINFO, tls.ca_bundle.c_str());
    set(CURLOPT_CAPATH, static_cast<const char*>(nullptr));
  }
  return set.result();
}

// The body is handed to libcurl in place (no copy); libcurl can resend it
// from there when a reused connection turns out to be dead.
void Exchange::SetMethodAndBody(OptionSetter& set) const {
  const std::string& method = request_.GetMethod();
  if (CarriesBody(request_)) {
    const char* data = request_.GetData();
    set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request_.GetDataSize()));
    set(CURLOPT_POSTFIELDS, data != nullptr ? data : "");
    if (method != "POST") {
      set(CURLOPT_CUSTOMREQUEST, method.c_str());
    }
  } else if (method != "GET") {
    set(CURLOPT_CUSTOMREQUEST, method.c_str());
  }
}

bool Exchange::OnHeaderLine(std::string_view line) {
  answer_started_ = true;
  stall_.MarkAnswerStarted();
  stall_.MarkProgress(Clock::now());
  if (line.substr(0, 5) == "HTTP/") {  // a status line starts a header block
    response_.Reset();
    response_.SetStatusCode(ParseStatus(TrimLine(line)));
    in_header_block_ = true;
    return true;
  }
  if (!in_header_block_) {
    return true;  // trailer fields after a chunked body
  }
  line = TrimLine(line);
  if (line.empty()) {
    in_header_block_ = false;
    if (response_.GetStatusCode() < 200) {
      return true;  // an interim answer; the final one follows
    }
    answered_ = true;
    return sink_.OnHeaders(response_);
  }
  const size_t colon = line.find(':');
  if (colon != std::string_view::npos) {
    response_.AddHeaderField(std::string(line.substr(0, colon)),
                             std::string(TrimLine(line.substr(colon + 1))));
  }
  return true;
}

bool Exchange::OnBodyPiece(const char* data, size_t size) {
  // A fast answer arrives in one go: the stop is also asked piece by piece.
  if (StopRequested()) {
    return false;
  }
  const bool go_on = sink_.OnBody(response_, data, size);
  stall_.MarkProgress(Clock::now());  // time spent in the sink is no stall
  return go_on;
}

bool Exchange::OnProgress(curl_off_t downloaded, curl_off_t uploaded) {
  const Clock::time_point now = Clock::now();
  stall_.Observe(static_cast<uint64_t>(uploaded), static_cast<uint64_t>(downloaded), now);
  stalled_ = stall_.Stalled(now);
  return !stalled_ && !StopRequested();
}

}  // namespace

ExchangeResult PerformExchange(const CHttpClientRequest& request, CHttpClientResponse& response,
                               BodySink& sink) {
  Exchange exchange(request, response, sink);
  return exchange.Run();
}

}  // namespace Net
}  // namespace Orca
