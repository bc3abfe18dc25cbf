// The download of an object into a local file: streamed piece by piece or,
// over HTTPS for objects of 10 MiB and more, in 1 MiB ranges fetched side by
// side and each written at its own offset.
//
// The file is opened for reading and writing, created when missing, and
// holds an exclusive advisory lock while it is open (the stand-in for a
// file opened without sharing). A successful download leaves exactly the
// object in the file; a failed one leaves whatever was written. Log records
// name CObjectProtoClient::DownloadObject and ::RecvMsgCallback, the
// protocol steps they belong to.
#ifndef ORCA_CS_OPERATIONS_DOWNLOADTOFILE_H_
#define ORCA_CS_OPERATIONS_DOWNLOADTOFILE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "file/LocalFile.h"
#include "net/HttpClient.h"
#include "protocol/ObjectImpl.h"
#include "protocol/ObjectProtoClient.h"

namespace Orca {
namespace CloudStorage {

class CDownloadToFile {
 public:
  // Writes into `local_path`, used as the bytes given. `proto_client` serves
  // the requests and must outlive the operation.
  CDownloadToFile(std::shared_ptr<ObjectImpl> conf, const CObjectProtoClient& proto_client,
                  std::string local_path)
      : conf_(std::move(conf)), proto_client_(proto_client), local_path_(std::move(local_path)) {}
  CDownloadToFile(const CDownloadToFile&) = delete;
  CDownloadToFile& operator=(const CDownloadToFile&) = delete;

  // Writes the object at `object_url` into the local file. Failures are
  // logged and returned for the caller to record.
  Status Run(const std::string& object_url);

  // Receives the pieces of a streamed answer (an HttpClient::RecvCallback).
  void Receive(const Net::CHttpClientResponse& response, const char* data, uint32_t size,
               Net::HttpClient::Error error, bool last);
  // Judges the streamed answer once SendForBigRsp has returned `streamed`.
  Status JudgeStream(bool streamed, const std::string& object_url);
  // The subcode of the streamed answer: the local failure, else the status.
  int32_t StreamOutcome() const { return local_failure_ != 0 ? local_failure_ : status_; }

 private:
  // The ranged path: up to the transfer concurrency of ranges in flight.
  // FetchRanges is one worker's loop; FetchRange fails for an answer shorter
  // than its slice or longer than the slice and its boundary byte;
  // WriteSlice writes and counts a slice under the run's lock.
  struct SRangeRun;
  class CRangeWorker;
  Status DownloadRanges(const std::string& object_url, uint64_t size);
  void FetchRanges(SRangeRun& run);
  Status FetchAndWriteRange(SRangeRun& run, uint64_t start, uint64_t end, char* room);
  Status OnRangeException(ErrorCode code, uint64_t start, const char* what) const;
  // The slice's bytes end up in `room` (slice + 1 bytes, or null) or in
  // `response`; `slice_data` points at them.
  Status FetchRange(Net::CHttpClientResponse& response, const std::string& object_url,
                    uint64_t start, uint64_t end, char* room, const char*& slice_data);
  Status WriteSlice(uint64_t offset, const char* data, uint64_t size);
  // The streamed path and its one redirect. Under the call's retry policy a
  // transient failure is tried again, from the bytes written so far.
  Status DownloadStream(const std::string& object_url);
  Status FollowStreamRedirect(const std::string& object_url);
  // Why the last try is worth another, or empty; then readies the next try
  // to continue from written_size_.
  std::string StreamRetryCause() const;
  void PrepareResume();
  // SendForBigRsp into Receive; false on a transport failure.
  bool Stream(const std::string& base, const std::string& object_url, bool configured_timeouts);
  // The first piece of an answer: its status and length, or, when resuming,
  // whether it continues the object.
  void OnFirstPiece(const Net::CHttpClientResponse& response);
  // Records code 5 when a streamed 200 answer ended before its length.
  Status AcceptStreamedBody(const std::string& url);
  bool StreamedBodyComplete() const;
  // A 200 piece with data: the file is opened on the first piece only.
  void WritePiece(bool first_piece, const char* data, uint32_t size);
  // The local file. Failures close it, set local_failure_ and are logged on
  // behalf of `function`; each write advances written_size_ and progress.
  bool OpenLocalFile(const char* function);
  bool WriteLocalFile(uint64_t offset, const char* data, uint32_t size, const char* function);
  // After the last byte: creates the file when nothing was written, and
  // cuts it to written_size_.
  bool FinishLocalFile(const char* function);
  void OnWriteFailed(const char* function);
  // Calls progress_callback when the percentage written has grown.
  void ReportProgress();
  // `code` with StreamOutcome() as subcode.
  Status Outcome(ErrorCode code) const;

  const std::shared_ptr<ObjectImpl> conf_;
  const CObjectProtoClient& proto_client_;
  const std::string local_path_;
  int32_t status_ = -1;                     // of the streamed answer; -1 until its first piece
  int32_t local_failure_ = 0;               // kOpenFailedBase + errno, kNoOpenFile or kWriteFailed
  Net::HttpClient::Error transport_error_;  // passed with a streamed piece
  bool streamed_ = false;                   // the last Stream completed
  uint64_t resume_from_ = 0;                // a resumed try asks for the bytes from here
  bool resume_mismatch_ = false;            // its answer does not continue the object
  std::string redirect_location_;
  uint64_t content_length_ = 0;  // of the streamed answer, or the object size when ranged
  uint64_t written_size_ = 0;
  int32_t last_percent_ = 0;
  File::CLocalFile file_;
};

}  // namespace CloudStorage
}  // namespace Orca

#endif  // ORCA_CS_OPERATIONS_DOWNLOADTOFILE_H_
