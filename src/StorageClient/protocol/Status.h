// The outcome of a protocol step: success, or the error code, message and
// (for downloads to a file) subcode that the public member records for
// GetLastError.
#ifndef ORCA_CS_STATUS_H_
#define ORCA_CS_STATUS_H_

#include <cstdint>
#include <string>
#include <utility>

namespace Orca {
namespace CloudStorage {

// The error codes of the public header.
enum class ErrorCode : int32_t {
  kOk = 0,
  kInvalidArgument = 2,  // a configuration or argument check failed
  kLocalFile = 3,        // a local file could not be opened, sized, read or written
  kTransport = 4,        // the HTTP component's send failed
  kBadAnswer = 5,        // an unexpected status, or not the expected document
  kBadRedirect = 6,      // an unusable redirect Location
  kNoSpace = 7,          // an upload refused for lack of space
  kNoSuchBucket = 8,
  kNoSuchKey = 9,
  kCancelled = 10,  // the call was cancelled (Cancel)
};

class Status {
 public:
  Status() = default;  // success
  Status(ErrorCode code, std::string message) : code_(code), message_(std::move(message)) {}
  Status(ErrorCode code, int32_t subcode, std::string message)
      : code_(code), message_(std::move(message)), subcode_(subcode), has_subcode_(true) {}

  // A failure that is logged but leaves the error state as it is.
  static Status NotRecorded() {
    Status status(ErrorCode::kInvalidArgument, std::string());
    status.recorded_ = false;
    return status;
  }

  // The outcome of a cancelled call: code 10 "cancelled".
  static Status Cancelled() { return Status(ErrorCode::kCancelled, "cancelled"); }

  bool ok() const { return code_ == ErrorCode::kOk; }
  // Whether the failure goes into the error state.
  bool recorded() const { return recorded_; }
  ErrorCode code() const { return code_; }
  const std::string& message() const { return message_; }
  // Recorded only when the failure carries one.
  bool has_subcode() const { return has_subcode_; }
  int32_t subcode() const { return subcode_; }

 private:
  ErrorCode code_ = ErrorCode::kOk;
  std::string message_;
  int32_t subcode_ = 0;
  bool has_subcode_ = false;
  bool recorded_ = true;
};

}  // namespace CloudStorage
}  // namespace Orca

#endif  // ORCA_CS_STATUS_H_
