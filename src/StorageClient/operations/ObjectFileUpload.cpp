// CObjectClient::UploadFile from a local file: one PUT below 10 MiB, else a
// multipart upload whose 2 MiB parts go up side by side on a worker pool
// while the calling thread reads the file, throttles itself and reports
// progress.
#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <utility>

#include "OrcaCloudStorage/StorageClient.h"
#include "base/Encoding.h"
#include "base/Guid.h"
#include "base/StrFmt.h"
#include "file/LocalFile.h"
#include "operations/PartTaskRegistry.h"
#include "operations/PartUploadTask.h"
#include "protocol/ObjectImpl.h"
#include "protocol/ObjectProtoClient.h"
#include "wire/Buffers.h"
#include "wire/Constants.h"
#include "wire/Logging.h"

namespace Orca {
namespace CloudStorage {
namespace {

// Error number reported when the file ends before its size (it shrank while
// being read): the object would otherwise be stored with missing bytes.
constexpr int kShortRead = ENODATA;

// From the last "." to the end, when that dot lies in the last path
// component ("/" and "\" both separate); otherwise empty.
std::string PathExtension(const std::string& path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos) {
    return std::string();
  }
  const size_t separator = path.find_last_of("/\\");
  if (separator != std::string::npos && separator > dot) {
    return std::string();
  }
  return path.substr(dot);
}

// One whole-file upload. Every log record is written on behalf of
// CObjectClient::UploadFile (`function`).
class CFileUpload {
 public:
  CFileUpload(std::shared_ptr<ObjectImpl> conf, const char* function, const std::string& path)
      : conf_(std::move(conf)),
        function_(function),
        path_(path),
        local_path_(Base::UTF8ToLocal(path)) {}

  // Opens the file, uploads it, closes it and reports 100 (on every path past
  // the open). `url` is set only on success.
  bool Run(std::string& url);

 private:
  bool Open();
  bool ReadSize();
  bool Transfer(std::string& url);
  // Reads the next `size` bytes into a new zeroed buffer of size + 1 bytes.
  bool ReadNext(uint32_t size, std::unique_ptr<char[]>& buffer);
  bool UploadInParts();
  // Reads, registers and posts every part. False when a read failed or a
  // part was seen failed while throttling.
  bool PostParts(CMultiUploadMsgLoop& pool, PartList& parts);
  // Waits while more than kMaxUnfinishedPartTasks tasks are unfinished, or
  // until the registry reports the upload failed (`failed` then set).
  void Throttle(CMultiUploadMsgLoop& pool, uint32_t& failed);
  // Waits until every part has finished or one has failed; true when none
  // failed.
  bool WaitForParts(CMultiUploadMsgLoop& pool);
  // Reports `percent` (100 as 99: parts are in flight) when it exceeds
  // `highest`.
  void ReportInFlight(int32_t percent, int32_t& highest) const;
  void Report(int32_t percent) const;

  const std::shared_ptr<ObjectImpl> conf_;
  const char* const function_;
  const std::string path_;
  const std::string local_path_;  // for log records and messages
  File::CLocalFile file_;
  uint64_t size_ = 0;
  std::string object_key_;
  std::shared_ptr<CObjectProtoClient> proto_client_;
  std::string location_;
  std::string task_id_;
};

bool CFileUpload::Run(std::string& url) {
  if (!Open()) {
    return false;
  }
  const bool ok = Transfer(url);
  file_.Close();
  Report(100);
  return ok;
}

bool CFileUpload::Open() {
  // Read only, and only an existing file: a mistyped path must not become an
  // empty object. Readers share the lock; a writer holding the file excludes
  // the upload.
  if (file_.Open(path_, File::Access::kRead, File::Disposition::kOpenExisting)) {
    return true;
  }
  const int error = file_.LastError();
  ORCA_CS_LOG_AS(veklog::kLevelError, function_, "[%s]open file failed[%s], error[%d].[%s(%d)]",
                 local_path_.c_str(), error);
  conf_->RecordError(3, Base::str_fmt("open file[%s] failed[%d].", local_path_.c_str(), error));
  return false;
}

bool CFileUpload::ReadSize() {
  if (!file_.Size(size_)) {
    const int error = file_.LastError();
    ORCA_CS_LOG_AS(veklog::kLevelError, function_,
                   "[%s]ftell file failed!file[%s],errno[%d][%s(%d)]", local_path_.c_str(), error);
    conf_->RecordError(3, Base::str_fmt("ftell file[%s] failed[%d].", local_path_.c_str(), error));
    return false;
  }
  if (size_ >= kMaxUploadFileSize) {
    const auto size = static_cast<unsigned long long>(size_);
    ORCA_CS_LOG_AS(veklog::kLevelError, function_,
                   "[%s]upload file[%s] failed, size[%llu] is 4 GiB or more.[%s(%d)]",
                   local_path_.c_str(), size);
    conf_->RecordError(3, Base::str_fmt("file[%s] size[%llu] too large, 4 GiB or more.",
                                        local_path_.c_str(), size));
    return false;
  }
  return true;
}

bool CFileUpload::Transfer(std::string& url) {
  object_key_ = Base::CreateGuid() + PathExtension(path_);
  if (!ReadSize()) {
    return false;
  }
  proto_client_ = std::make_shared<CObjectProtoClient>();
  proto_client_->Init(conf_);
  if (!proto_client_->GetBestNode(location_, object_key_)) {
    ORCA_CS_LOG_AS(veklog::kLevelError, function_,
                   "[%s]upload file[%s] failed, get best node failed.[%s(%d)]",
                   local_path_.c_str());
    return false;
  }
  if (size_ < kMultipartThreshold) {
    const auto size = static_cast<uint32_t>(size_);
    std::unique_ptr<char[]> data;
    return ReadNext(size, data) &&
           proto_client_->UploadObject(url, location_, object_key_, data.get(), size);
  }
  if (!UploadInParts()) {
    return false;
  }
  url = "/" + conf_->config.pool_name + "/" + object_key_;
  return true;
}

bool CFileUpload::ReadNext(uint32_t size, std::unique_ptr<char[]>& buffer) {
  buffer.reset(NewZeroedBuffer(size));
  int error = ENOMEM;
  if (buffer) {
    uint32_t done = 0;
    if (!file_.Read(buffer.get(), size, done)) {
      error = file_.LastError();
    } else if (done != size) {
      error = kShortRead;
    } else {
      return true;
    }
  }
  ORCA_CS_LOG_AS(veklog::kLevelError, function_, "[%s]read_elements != 1, error[%d][%s(%d)]",
                 error);
  conf_->RecordError(3, Base::str_fmt("fread file[%s] failed[%d].", local_path_.c_str(), error));
  return false;
}

bool CFileUpload::UploadInParts() {
  if (!proto_client_->CreatePartTask(task_id_, object_key_)) {
    ORCA_CS_LOG_AS(veklog::kLevelError, function_,
                   "[%s]upload file[%s] failed, create part task failed.[%s(%d)]",
                   local_path_.c_str());
    return false;
  }
  PartList parts;
  CMultiUploadMsgLoop pool;
  bool ok = pool.Start(kUploadPoolMinThreads, kUploadPoolMaxThreads, kUploadPoolGrowBacklog);
  if (!ok) {
    // Without workers no part would ever finish.
    ORCA_CS_LOG_AS(veklog::kLevelError, function_,
                   "[%s]upload file[%s] failed, start upload pool failed.[%s(%d)]",
                   local_path_.c_str());
    conf_->RecordError(
        3, Base::str_fmt("start upload pool for file[%s] failed.", local_path_.c_str()));
  }
  ok = ok && PostParts(pool, parts) && WaitForParts(pool);
  pool.Stop(false);
  CPartTaskRegistry::GetInstance().DropUpload(task_id_);
  if (!ok) {
    return false;
  }
  if (!proto_client_->FinishPartTask(task_id_, object_key_, parts)) {
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
  for (uint64_t offset = 0; offset < size_; ++part_number) {
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
  return true;
}

void CFileUpload::Throttle(CMultiUploadMsgLoop& pool, uint32_t& failed) {
  int32_t highest = 0;
  while (true) {
    // Read before looking, so that a task finishing in between still wakes us.
    const uint64_t seen = pool.GetFinishedTaskCount();
    if (pool.GetWorkTaskCount() <= kMaxUnfinishedPartTasks) {
      return;
    }
    pool.WaitForTaskDone(seen, kThrottleWaitMs);
    int32_t percent = 0;
    if (CPartTaskRegistry::GetInstance().QueryUpload(failed, percent, task_id_)) {
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

}  // namespace

bool CObjectClient::UploadFile(std::string& url, const std::string& path) {
  if (!ptr_conf_) {
    LOG_ERROR("[%s]upload file failed, ptr_conf_ is null.[%s(%d)]");
    return false;
  }
  if (path.empty()) {
    LOG_ERROR("[%s]path is empty.[%s(%d)]");
    ptr_conf_->RecordError(2, "file path is empty.");
    return false;
  }
  ORCA_CS_FUNCTION_NAME(function);
  CFileUpload upload(ptr_conf_, function.c_str(), path);
  return upload.Run(url);
}

}  // namespace CloudStorage
}  // namespace Orca
