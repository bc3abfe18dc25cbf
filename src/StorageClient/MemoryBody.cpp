#include "MemoryBody.h"

#include "Constants.h"
#include "base/StrFmt.h"

namespace Orca {
namespace CloudStorage {

std::string MemoryBodyProblem(const Net::CHttpClientResponse& response) {
  const auto length = static_cast<unsigned long long>(response.GetContentLength());
  if (response.BodyLimitExceeded() || length > kMaxMemoryDownloadSize) {
    return Base::str_fmt("object size[%llu] exceeds the 32-bit length of a memory download",
                         length);
  }
  const auto received = static_cast<unsigned long long>(response.GetReceivedLength());
  if (!response.IsBodyComplete() || received < length) {
    return Base::str_fmt("body short[%llu of %llu bytes received]", received, length);
  }
  return std::string();
}

}  // namespace CloudStorage
}  // namespace Orca
