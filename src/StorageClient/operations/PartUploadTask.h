// The part tasks of a whole-file upload and the pool that runs them.
//
// The uploading thread copies each part into a CPartUploadTask, registers
// the part with CPartTaskRegistry and posts the task to the call's own
// CMultiUploadMsgLoop. A worker uploads the part (up to kPartUploadAttempts
// tries) and reports the outcome to the registry, where the uploading thread
// reads progress and failure.
#ifndef ORCA_CS_PARTUPLOADTASK_H_
#define ORCA_CS_PARTUPLOADTASK_H_

#include <memory>
#include <string>

#include "base/ThreadPool.h"
#include "operations/PartTaskRegistry.h"
#include "protocol/ObjectProtoClient.h"

namespace Orca {
namespace CloudStorage {

class CPartUploadTask : public Base::CTask {
 public:
  // `data` holds the part's info.size bytes (and is what info.data is set
  // to); the task owns it. The protocol client is shared by every task of
  // the upload and outlives the upload call while a task still runs.
  CPartUploadTask(SPartTaskInfo info, std::unique_ptr<char[]> data,
                  std::shared_ptr<CObjectProtoClient> proto_client, std::string object_key,
                  std::string location);
  CPartUploadTask(const CPartUploadTask&) = delete;
  CPartUploadTask& operator=(const CPartUploadTask&) = delete;

  // Uploads the part, then reports it finished (failed 0 or 1) with
  // MarkPartDone, whose answer is returned. An exception on the way fails
  // the part (code 3 when memory ran out, else 5).
  bool Run() override;

 private:
  bool Upload();
  Status OnException(ErrorCode code, const char* what) const;

  SPartTaskInfo info_;
  std::unique_ptr<char[]> data_;
  std::shared_ptr<CObjectProtoClient> proto_client_;
  std::string object_key_;
  std::string location_;
};

// The worker pool of one whole-file upload; started with the transfer
// concurrency as its number of workers (see kPartTasksBeyondWorkers).
class CMultiUploadMsgLoop : public Base::CMessageLoopDyThreadPool {};

}  // namespace CloudStorage
}  // namespace Orca

#endif  // ORCA_CS_PARTUPLOADTASK_H_
