// One HTTP exchange on a pooled libcurl handle: the request goes out as
// built, the answer's status line and header fields fill the response, and
// its body goes to a BodySink.
#ifndef ORCA_PLATFORM_NET_CURLEXCHANGE_H_
#define ORCA_PLATFORM_NET_CURLEXCHANGE_H_

#include <cstddef>

#include "net/HttpClient.h"

namespace Orca {
namespace Net {

// Receives the answer's body as libcurl delivers it. Returning false from
// either call ends the transfer.
class BodySink {
 public:
  virtual ~BodySink() = default;
  // The final answer's header block is complete.
  virtual bool OnHeaders(CHttpClientResponse& response) = 0;
  // The next piece of the body (never empty).
  virtual bool OnBody(CHttpClientResponse& response, const char* data, size_t size) = 0;
};

struct ExchangeResult {
  HttpClient::Error error;  // {0, 0} when the transfer completed
  bool answered = false;    // a final status line and its header block arrived
  bool resent = false;      // the request went out again on a fresh connection
};

ExchangeResult PerformExchange(const CHttpClientRequest& request, CHttpClientResponse& response,
                               BodySink& sink);

}  // namespace Net
}  // namespace Orca

#endif  // ORCA_PLATFORM_NET_CURLEXCHANGE_H_
