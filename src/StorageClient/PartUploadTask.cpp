#include "PartUploadTask.h"

#include <utility>

#include "Constants.h"

namespace Orca {
namespace CloudStorage {

CPartUploadTask::CPartUploadTask(SPartTaskInfo info, std::unique_ptr<char[]> data,
                                 std::shared_ptr<CObjectProtoClient> proto_client,
                                 std::string object_key, std::string location)
    : info_(std::move(info)),
      data_(std::move(data)),
      proto_client_(std::move(proto_client)),
      object_key_(std::move(object_key)),
      location_(std::move(location)) {
  info_.data = data_.get();
}

bool CPartUploadTask::Run() {
  // Each failed attempt has logged and recorded its own error.
  bool uploaded = false;
  for (int attempt = 0; attempt < kPartUploadAttempts && !uploaded; ++attempt) {
    uploaded = proto_client_->UploadPartObject(object_key_, location_, info_.part_number,
                                               info_.task_id, info_.data, info_.size);
  }
  info_.failed = uploaded ? 0 : 1;
  info_.finished = true;
  return CPartTaskRegistry::GetInstance().MarkPartDone(info_.task_id, info_);
}

}  // namespace CloudStorage
}  // namespace Orca
