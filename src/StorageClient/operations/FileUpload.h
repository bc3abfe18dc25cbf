// The whole-file upload behind CObjectClient::UploadFile from a local file:
// one PUT below 10 MiB, else a multipart upload whose 2 MiB parts go up side
// by side on a worker pool while the calling thread reads the file,
// throttles itself and reports progress.
#ifndef ORCA_CS_OPERATIONS_FILEUPLOAD_H_
#define ORCA_CS_OPERATIONS_FILEUPLOAD_H_

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "base/Encoding.h"
#include "file/LocalFile.h"
#include "operations/PartUploadTask.h"
#include "protocol/ObjectImpl.h"
#include "protocol/ObjectProtoClient.h"
#include "protocol/PartList.h"

namespace Orca {
namespace CloudStorage {

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
  // Waits while more than workers_ + kPartTasksBeyondWorkers tasks are
  // unfinished, or
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
  int workers_ = 0;  // of the part pool: the transfer concurrency
};

}  // namespace CloudStorage
}  // namespace Orca

#endif  // ORCA_CS_OPERATIONS_FILEUPLOAD_H_
