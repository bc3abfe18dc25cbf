// CObjectClient::UploadFile from a local file, and the single-request path
// of CFileUpload.
#include "operations/FileUpload.h"

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

}  // namespace

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
  conf_->Record(Status(ErrorCode::kLocalFile,
                       Base::str_fmt("open file[%s] failed[%d].", local_path_.c_str(), error)));
  return false;
}

bool CFileUpload::ReadSize() {
  if (!file_.Size(size_)) {
    const int error = file_.LastError();
    ORCA_CS_LOG_AS(veklog::kLevelError, function_,
                   "[%s]ftell file failed!file[%s],errno[%d][%s(%d)]", local_path_.c_str(), error);
    conf_->Record(Status(ErrorCode::kLocalFile,
                         Base::str_fmt("ftell file[%s] failed[%d].", local_path_.c_str(), error)));
    return false;
  }
  if (size_ >= kMaxUploadFileSize) {
    const auto size = static_cast<unsigned long long>(size_);
    ORCA_CS_LOG_AS(veklog::kLevelError, function_,
                   "[%s]upload file[%s] failed, size[%llu] is 4 GiB or more.[%s(%d)]",
                   local_path_.c_str(), size);
    conf_->Record(Status(
        ErrorCode::kLocalFile,
        Base::str_fmt("file[%s] size[%llu] too large, 4 GiB or more.", local_path_.c_str(), size)));
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
  if (!conf_->Succeeded(proto_client_->GetBestNode(location_, object_key_))) {
    ORCA_CS_LOG_AS(veklog::kLevelError, function_,
                   "[%s]upload file[%s] failed, get best node failed.[%s(%d)]",
                   local_path_.c_str());
    return false;
  }
  if (size_ < kMultipartThreshold) {
    const auto size = static_cast<uint32_t>(size_);
    std::unique_ptr<char[]> data;
    return ReadNext(size, data) && conf_->Succeeded(proto_client_->UploadObject(
                                       url, location_, object_key_, data.get(), size));
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
  conf_->Record(Status(ErrorCode::kLocalFile,
                       Base::str_fmt("fread file[%s] failed[%d].", local_path_.c_str(), error)));
  return false;
}

bool CObjectClient::UploadFile(std::string& url, const std::string& path) {
  if (!ptr_conf_) {
    LOG_ERROR("[%s]upload file failed, ptr_conf_ is null.[%s(%d)]");
    return false;
  }
  if (path.empty()) {
    LOG_ERROR("[%s]path is empty.[%s(%d)]");
    ptr_conf_->Record(Status(ErrorCode::kInvalidArgument, "file path is empty."));
    return false;
  }
  ORCA_CS_FUNCTION_NAME(function);
  CFileUpload upload(ptr_conf_, function.c_str(), path);
  return upload.Run(url);
}

}  // namespace CloudStorage
}  // namespace Orca
