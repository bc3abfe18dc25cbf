#include "operations/PartUploadTask.h"

#include <exception>
#include <new>
#include <utility>

#include "base/StrFmt.h"
#include "protocol/Status.h"
#include "wire/Constants.h"
#include "wire/Logging.h"

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
  info_.failed = Upload() ? 0 : 1;
  info_.finished = true;
  return CPartTaskRegistry::GetInstance().MarkPartDone(info_.task_id, info_);
}

bool CPartUploadTask::Upload() {
  // Each failed attempt records its own error. An exception fails the part
  // like an attempt would: the upload must not wait for a part that never
  // finishes.
  ObjectImpl& conf = *proto_client_->conf();
  try {
    for (int attempt = 0; attempt < kPartUploadAttempts; ++attempt) {
      if (proto_client_->call().Cancelled()) {
        conf.Record(Status::Cancelled());
        return false;
      }
      Status status = proto_client_->UploadPartObject(object_key_, location_, info_.part_number,
                                                      info_.task_id, info_.data, info_.size);
      if (status.ok()) {
        return true;
      }
      conf.Record(status);
    }
  } catch (const std::bad_alloc& e) {
    conf.Record(OnException(ErrorCode::kLocalFile, e.what()));
  } catch (const std::exception& e) {
    conf.Record(OnException(ErrorCode::kBadAnswer, e.what()));
  } catch (...) {
    conf.Record(OnException(ErrorCode::kBadAnswer, "unknown exception"));
  }
  return false;
}

Status CPartUploadTask::OnException(ErrorCode code, const char* what) const {
  ORCA_CS_LOG_AS(veklog::kLevelError, "Orca::CloudStorage::CPartUploadTask::Run",
                 "[%s]upload part[%u] of object[%s] failed, exception[%s].[%s(%d)]",
                 info_.part_number, object_key_.c_str(), what);
  return Status(code, Base::str_fmt("UploadPartObject part[%u] failed, exception[%s].",
                                    info_.part_number, what));
}

}  // namespace CloudStorage
}  // namespace Orca
