// The body of a memory download, handed back as a buffer of length + 1
// bytes (the object's bytes, then one 0) that the caller frees with
// delete[].
//
// Memory follows the bytes that arrive, not the length an answer announces:
// a 200 answer that announces at most kMaxDirectBodySize bytes is received
// straight into the caller's buffer, whose pages are committed only as they
// are written; a longer or unannounced body grows in the response as it
// arrives and is copied into the buffer once whole.
//
//   CMemoryBody body;
//   request.SetBodyStorage(body.Storage());
//   ... send, check the status and body.Problem(response) ...
//   char* buffer = body.Release(response, length);
#ifndef ORCA_CS_MEMORYBODY_H_
#define ORCA_CS_MEMORYBODY_H_

#include <cstdint>
#include <memory>
#include <string>

#include "net/HttpClient.h"

namespace Orca {
namespace CloudStorage {

class CMemoryBody {
 public:
  // Where the HTTP component puts a 200 answer's body. The storage refers to
  // this object, which must outlive the exchange.
  Net::CHttpClientRequest::BodyStorage Storage();

  // Why the body of the 200 answer `response` cannot be handed back whole
  // through a 32-bit length: it is shorter than its Content-Length, or too
  // long. Empty when it can.
  static std::string Problem(const Net::CHttpClientResponse& response);

  // The buffer holding the body of `response` (which passed Problem), now
  // the caller's; `length` receives the body's length. Null when the memory
  // is not available.
  char* Release(const Net::CHttpClientResponse& response, uint32_t& length);

 private:
  std::unique_ptr<char[]> direct_;  // the buffer the last 200 answer went into, if any
};

}  // namespace CloudStorage
}  // namespace Orca

#endif  // ORCA_CS_MEMORYBODY_H_
