// CFileUpload: the multipart path. Each 2 MiB part is read, registered and
// posted to the call's worker pool; the calling thread throttles itself and
// reports progress until every part has finished or one has failed.
#include <algorithm>

#include "base/StrFmt.h"
#include "operations/FileUpload.h"
#include "operations/PartTaskRegistry.h"
#include "protocol/Status.h"
#include "wire/Constants.h"
#include "wire/Logging.h"

namespace Orca {
namespace CloudStorage {

bool CFileUpload::UploadInParts() {
  if (!conf_->Succeeded(proto_client_->CreatePartTask(task_id_, object_key_))) {
    ORCA_CS_LOG_AS(veklog::kLevelError, function_,
                   "[%s]upload file[%s] failed, create part task failed.[%s(%d)]",
                   local_path_.c_str());
    return false;
  }
  PartList parts;
  CMultiUploadMsgLoop pool;
  workers_ = static_cast<int>(conf_->transfer_concurrency.load(std::memory_order_relaxed));
  bool ok = pool.Start(workers_, workers_, workers_ + kPartTasksBeyondWorkers);
  if (!ok) {
    // Without workers no part would ever finish.
    ORCA_CS_LOG_AS(veklog::kLevelError, function_,
                   "[%s]upload file[%s] failed, start upload pool failed.[%s(%d)]",
                   local_path_.c_str());
    conf_->Record(
        Status(ErrorCode::kLocalFile,
               Base::str_fmt("start upload pool for file[%s] failed.", local_path_.c_str())));
  }
  ok = ok && PostParts(pool, parts) && WaitForParts(pool);
  pool.Stop(false);  // a cancelled upload's queued parts never go out
  if (!ok && proto_client_->call().Cancelled()) {
    conf_->Record(Status::Cancelled());
  }
  CPartTaskRegistry::GetInstance().DropUpload(task_id_);
  if (!ok) {
    return false;
  }
  if (!conf_->Succeeded(proto_client_->FinishPartTask(task_id_, object_key_, parts))) {
    ORCA_CS_LOG_AS(veklog::kLevelError, function_,
                   "[%s]upload file[%s] failed, object key[%s], upload part[%d] failed.[%s(%d)]",
                   local_path_.c_str(), object_key_.c_str(), static_cast<int>(parts.size() + 1));
    return false;
  }
  return true;
}

bool CFileUpload::PostParts(CMultiUploadMsgLoop& pool, PartList& parts) {
  const auto part_count =
      static_cast<uint32_t>(size_ / kPartSize + (size_ % kPartSize != 0 ? 1 : 0));
  uint32_t part_number = 1;
  for (uint64_t offset = 0; offset < size_ && !proto_client_->call().Cancelled(); ++part_number) {
    const auto size = static_cast<uint32_t>(std::min<uint64_t>(kPartSize, size_ - offset));
    std::unique_ptr<char[]> data;
    if (!ReadNext(size, data)) {
      return false;
    }
    SPartTaskInfo info;
    info.task_id = task_id_;
    info.data = data.get();
    info.size = size;
    info.part_number = part_number;
    info.part_count = part_count;
    CPartTaskRegistry::GetInstance().RegisterPart(task_id_, info);
    auto task = std::make_unique<CPartUploadTask>(info, std::move(data), proto_client_, object_key_,
                                                  location_);
    uint32_t failed = 0;
    Throttle(pool, failed);
    pool.PostTask(task.release());
    if (failed != 0) {
      ORCA_CS_LOG_AS(veklog::kLevelError, function_,
                     "[%s]upload file[%s] failed, object key[%s] failed.[%s(%d)]",
                     local_path_.c_str(), object_key_.c_str());
      return false;
    }
    parts[part_number] = SPartInfo{size, std::string()};
    offset += size;
  }
  return !proto_client_->call().Cancelled();
}

void CFileUpload::Throttle(CMultiUploadMsgLoop& pool, uint32_t& failed) {
  int32_t highest = 0;
  while (true) {
    // Read before looking, so that a task finishing in between still wakes us.
    const uint64_t seen = pool.GetFinishedTaskCount();
    if (pool.GetWorkTaskCount() <= workers_ + kPartTasksBeyondWorkers) {
      return;
    }
    pool.WaitForTaskDone(seen, kThrottleWaitMs);
    int32_t percent = 0;
    if (CPartTaskRegistry::GetInstance().QueryUpload(failed, percent, task_id_)) {
      return;
    }
    if (proto_client_->call().Cancelled()) {
      failed = 1;
      return;
    }
    ReportInFlight(percent, highest);
  }
}

bool CFileUpload::WaitForParts(CMultiUploadMsgLoop& pool) {
  int32_t highest = 0;
  uint32_t failed = 0;
  while (true) {
    const uint64_t seen = pool.GetFinishedTaskCount();
    int32_t percent = 0;
    if (CPartTaskRegistry::GetInstance().QueryUpload(failed, percent, task_id_)) {
      break;
    }
    if (proto_client_->call().Cancelled()) {
      return false;
    }
    ReportInFlight(percent, highest);
    pool.WaitForTaskDone(seen, kFinalWaitMs);
  }
  if (failed != 0) {
    ORCA_CS_LOG_AS(veklog::kLevelError, function_,
                   "[%s]upload file[%s] failed, object key[%s] failed.[%s(%d)]",
                   local_path_.c_str(), object_key_.c_str());
    return false;
  }
  return true;
}

void CFileUpload::ReportInFlight(int32_t percent, int32_t& highest) const {
  if (!conf_->config.progress_callback || percent <= highest) {
    return;
  }
  highest = percent;
  Report(percent == 100 ? 99 : percent);
}

void CFileUpload::Report(int32_t percent) const {
  const SStorageServerConfig& config = conf_->config;
  if (!config.progress_callback) {
    return;
  }
  SProgressInfo info;
  info.reserved = 0;
  info.percent = percent;
  info.user_data = config.user_data;
  config.progress_callback(info);
}

}  // namespace CloudStorage
}  // namespace Orca
