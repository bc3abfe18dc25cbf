#include "protocol/ObjectImpl.h"

namespace Orca {
namespace CloudStorage {

void ObjectImpl::RecordError(int32_t code, const std::string& msg) {
  std::lock_guard<std::mutex> lock(error_mutex);
  last_error_code = code;
  last_error_msg = msg;
}

void ObjectImpl::RecordErrorWithSubCode(int32_t code, int32_t subcode, const std::string& msg) {
  std::lock_guard<std::mutex> lock(error_mutex);
  last_error_code = code;
  last_error_msg = msg;
  last_error_subcode = subcode;
}

bool ObjectImpl::Record(const Status& status) {
  const auto code = static_cast<int32_t>(status.code());
  if (!status.recorded()) {
    return false;
  }
  if (status.has_subcode()) {
    RecordErrorWithSubCode(code, status.subcode(), status.message());
  } else {
    RecordError(code, status.message());
  }
  return false;
}

}  // namespace CloudStorage
}  // namespace Orca
