// The checks every handler starts with, answering the error themselves:
// authentication, the object address and pool, the query form.
#ifndef OCS_EMULATOR_SERVICE_ADMISSION_H_
#define OCS_EMULATOR_SERVICE_ADMISSION_H_

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>

#include "emulator/http/Exchange.h"
#include "emulator/service/Context.h"
#include "emulator/service/KeyPath.h"

namespace ocs {

// Verifies Date and signature; false after answering the error. `ak`
// receives the access key.
bool Authenticate(Exchange& ex, Context& ctx, SignLayout layout, std::string* ak);

// Checks that `pool` exists and belongs to `ak`; false after answering.
bool AdmitPool(Exchange& ex, Context& ctx, const std::string& pool, const std::string& ak);

// Authenticates with the object layout and parses /pool/key; nothing after
// answering the error.
std::optional<ObjectAddress> AdmitObject(Exchange& ex, Context& ctx);

// True when the query holds exactly the fields `names`.
bool QueryIs(const Exchange& ex, std::initializer_list<const char*> names);

// Answers a request that this port does not serve.
void AnswerUnsupported(Exchange& ex);

ApiError InternalError(const std::string& message);

// Bytes charged to a pool's quota, given back on destruction unless kept.
class Charge {
 public:
  Charge(Store& store, std::string pool, uint64_t bytes);
  ~Charge();
  Charge(const Charge&) = delete;
  Charge& operator=(const Charge&) = delete;

  bool held() const { return held_; }
  void Keep() { kept_ = true; }

 private:
  Store& store_;
  const std::string pool_;
  const uint64_t bytes_;
  const bool held_;
  bool kept_ = false;
};

// A request body received into a temporary file and charged to its pool.
struct ReceivedBody {
  std::unique_ptr<TempFile> file;
  std::unique_ptr<Charge> charge;
};

// Receives the body (Content-Length required; Content-MD5 required unless
// authentication is off); nothing after answering the error.
std::optional<ReceivedBody> ReceiveBody(Exchange& ex, Context& ctx, const std::string& pool);

}  // namespace ocs

#endif  // OCS_EMULATOR_SERVICE_ADMISSION_H_
