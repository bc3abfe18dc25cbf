// The state a CObjectClient shares with its copies and its protocol clients:
// configuration, last error, time-outs and transfer concurrency.
#ifndef ORCA_CS_OBJECTIMPL_H_
#define ORCA_CS_OBJECTIMPL_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "OrcaCloudStorage/StorageClient.h"
#include "protocol/CallControl.h"
#include "protocol/Status.h"
#include "wire/Constants.h"

namespace Orca {
namespace CloudStorage {

struct ObjectImpl {
  explicit ObjectImpl(const SStorageServerConfig& server_config) : config(server_config) {}

  // Sets code and message; the subcode stays.
  void RecordError(int32_t code, const std::string& msg);
  // Sets code, message and subcode.
  void RecordErrorWithSubCode(int32_t code, int32_t subcode, const std::string& msg);
  // Records a failed status (its subcode only when it carries one; nothing
  // for Status::NotRecorded); false.
  bool Record(const Status& status);
  // True for a success; records a failure and returns false.
  bool Succeeded(const Status& status) { return status.ok() || Record(status); }

  const SStorageServerConfig config;

  std::mutex error_mutex;  // guards the three last_error_ fields
  int32_t last_error_code = 0;
  std::string last_error_msg;
  int32_t last_error_subcode = 0;

  // Read when a request is built; may change at any time.
  std::atomic<uint32_t> receive_timeout{kDefaultTimeoutMs};
  std::atomic<uint32_t> send_timeout{kDefaultTimeoutMs};
  // Ranges or part workers in flight at once; read when an operation starts.
  std::atomic<uint32_t> transfer_concurrency{kDefaultTransferConcurrency};
  // Retry policy and cancellation; each protocol client's requests belong to
  // the call that made it.
  const std::shared_ptr<CallControl> control = std::make_shared<CallControl>();
};

}  // namespace CloudStorage
}  // namespace Orca

#endif  // ORCA_CS_OBJECTIMPL_H_
