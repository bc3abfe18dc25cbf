// Sending object and picture bytes: from a stored file or a generated
// pattern, whole or by range, or a redirect to a data node instead.
#ifndef OCS_EMULATOR_SERVICE_SERVING_H_
#define OCS_EMULATOR_SERVICE_SERVING_H_

#include <cstdint>
#include <functional>

#include "emulator/http/Exchange.h"
#include "emulator/service/Context.h"
#include "emulator/store/Pattern.h"
#include "emulator/store/Store.h"

namespace ocs {

struct DataSource {
  uint64_t size = 0;
  // Copies `n` bytes from `offset` into `out`; false on a read error.
  std::function<bool(uint64_t offset, char* out, size_t n)> read;
};

DataSource FileSource(const StoredFile& file);
DataSource PatternSource(const GeneratedObject& object);

// Answers 200 with the bytes the Range header selects (all of them when there
// is none), or 416 InvalidRange.
void ServeData(Exchange& ex, const DataSource& source);

// Answers with a redirect to a data node (same target) when the redirect
// policy says so; returns whether it did.
bool MaybeRedirect(Exchange& ex, Context& ctx);

}  // namespace ocs

#endif  // OCS_EMULATOR_SERVICE_SERVING_H_
