// The upload of a whole object from memory, shared by the memory upload and
// the one-piece upload under a caller's name.
#ifndef ORCA_CS_WHOLEOBJECTUPLOAD_H_
#define ORCA_CS_WHOLEOBJECTUPLOAD_H_

#include <cstdint>
#include <memory>
#include <string>

#include "protocol/ObjectImpl.h"

namespace Orca {
namespace CloudStorage {

// Stores `size` bytes (at most 32 MiB, else code 2) as `object_key` through
// a best node query and one PUT; `url` receives the object URL on success.
// Log records are written on behalf of `function`.
bool UploadWholeObject(const std::shared_ptr<ObjectImpl>& conf, const std::string& object_key,
                       const char* data, uint32_t size, std::string& url, const char* function);

}  // namespace CloudStorage
}  // namespace Orca

#endif  // ORCA_CS_WHOLEOBJECTUPLOAD_H_
