// CObjectProtoClient speaks the object-storage protocol: each request
// method builds, signs, sends and judges one HTTP exchange, and records its
// failures in the client's error state. One instance serves one public call;
// the part tasks of a whole-file upload share theirs.
#ifndef ORCA_CS_OBJECTPROTOCLIENT_H_
#define ORCA_CS_OBJECTPROTOCLIENT_H_

#include <cstdint>
#include <memory>
#include <string>

#include "file/LocalFile.h"
#include "net/HttpClient.h"
#include "protocol/ObjectImpl.h"
#include "protocol/PartList.h"
#include "protocol/RequestPipeline.h"

namespace Orca {
namespace CloudStorage {

class CSliceWriter;

class CObjectProtoClient {
 public:
  CObjectProtoClient() = default;
  CObjectProtoClient(const CObjectProtoClient&) = delete;
  CObjectProtoClient& operator=(const CObjectProtoClient&) = delete;

  // Derives the base URLs and the Host value from the configuration. False
  // only for an empty pointer.
  bool Init(const std::shared_ptr<ObjectImpl>& conf);

  // Asks which data node should store `object_key`; `location` ("ip:port")
  // is set on success.
  bool GetBestNode(std::string& location, const std::string& object_key);

  // Stores `size` bytes at `data` as `object_key` on the node `location`;
  // `object_url` receives "/" pool "/" key on success.
  bool UploadObject(std::string& object_url, const std::string& location,
                    const std::string& object_key, const char* data, uint32_t size);

  // Multipart upload: open it (the upload id is the task id), send each part
  // to the data node (parts may go side by side: this method only reads the
  // client), then complete it with the list of all parts.
  bool CreatePartTask(std::string& task_id, const std::string& object_key);
  bool UploadPartObject(const std::string& object_key, const std::string& location,
                        uint32_t part_number, const std::string& task_id, const char* data,
                        uint32_t size);
  bool FinishPartTask(const std::string& task_id, const std::string& object_key, PartList parts);

  // Sends one signed request to `base_url` + `resource` with the configured
  // time-outs and, when `range` is not empty, "Range: bytes=<range>". True
  // when an answer arrived, whatever its status. A 200 body goes to
  // `storage` when given (see CHttpClientRequest::SetBodyStorage); a
  // successful body longer than `max_body` is not read past that.
  bool SendObjectMsg(Net::CHttpClientResponse& response, const std::string& base_url,
                     const std::string& resource, const std::string& method,
                     const std::string& body, const std::string& range,
                     const Net::CHttpClientRequest::BodyStorage& storage = {},
                     uint64_t max_body = kMaxMemoryDownloadSize);

  // Fetches an object (or the byte range `range` of it) into a new buffer of
  // length + 1 bytes owned by the caller. `buffer` and `length` are set only
  // on success.
  bool DownloadObject(char** buffer, uint32_t& length, const std::string& range,
                      const std::string& object_url);

  // Writes an object into the local file `local_path` (UTF-8): streamed over
  // HTTP, in 1 MiB ranges over HTTPS for objects of 10 MiB or more.
  bool DownloadObject(const std::string& local_path, const std::string& object_url);

  // Receives the pieces of a streamed download (see DownloadObject to a file).
  void RecvMsgCallback(const Net::CHttpClientResponse& response, const char* data, uint32_t size,
                       Net::HttpClient::Error error, bool last);

  // DELETE the object; RemoveObjectFile adds "?deletefile".
  bool RemoveFile(const std::string& object_url);
  bool RemoveObjectFile(const std::string& object_url);

  // Records a failure that happened outside a request in the client's error
  // state.
  void RecordError(int32_t code, const std::string& message) const {
    conf_->RecordError(code, message);
  }

 private:
  // A binary body with its Content-MD5, sent to a data node.
  SRequestFrame DataNodeFrame(const char* method, const std::string& location, std::string resource,
                              const char* data, uint32_t size) const;
  // Records a failed status in the client's error state; false.
  bool Fail(const Status& status) const;
  // "/" pool "/" key
  std::string ResourcePath(const std::string& object_key) const;
  // The scheme followed by a node location.
  std::string NodeBase(const std::string& location) const;
  // What a failed download answer means: code 8 for NoSuchBucket, 9 for
  // NoSuchKey, else 5.
  static Status DownloadStatusError(int status, const std::string& body);
  // Checks that a 200 answer holds its whole body and fits the 32-bit
  // length of a memory download; records code 5 otherwise.
  bool CheckMemoryBody(const Net::CHttpClientResponse& response) const;
  // GET of `object_url` (or of its byte range `range`) from the download
  // base, following one 301 or 302. True when `response` holds a 200 answer;
  // otherwise the failure is recorded (codes 4, 5, 6, 8, 9) and logged on
  // behalf of `function`. The body goes to `storage` when given, and is not
  // read past `max_body` bytes.
  bool FetchObject(Net::CHttpClientResponse& response, const std::string& range,
                   const std::string& object_url, const char* function,
                   const Net::CHttpClientRequest::BodyStorage& storage = {},
                   uint64_t max_body = kMaxMemoryDownloadSize);
  // Sets the configured receive and send time-outs on `frame`.
  void SetConfiguredTimeouts(SRequestFrame& frame) const;
  // The removal request; records are written on behalf of `function`.
  bool Remove(const std::string& object_url, const std::string& query, const char* function);

  // Download to a file (ObjectDownloadToFile.cpp).
  // The "Object-Size" of a "?metadata" answer; 0 when it cannot be learned.
  uint64_t GetObjectSize(const std::string& object_url);
  // The ranged path: each 1 MiB slice is written at its own offset, on a
  // writer thread while the next range is fetched. FetchRange records code
  // 5 for an answer shorter than its slice; FinishSliceWrite waits for the
  // slice of `size` bytes in writing, then counts it, or records code 3.
  bool DownloadRanges(const std::string& object_url, uint64_t size);
  bool FetchRange(Net::CHttpClientResponse& response, const std::string& object_url, uint64_t start,
                  uint64_t end);
  bool FinishSliceWrite(CSliceWriter& writer, uint64_t size);
  // The streamed path and its one redirect. JudgeStream decides on the
  // first answer once Stream has returned `streamed`.
  bool DownloadStream(const std::string& object_url);
  bool JudgeStream(bool streamed, const std::string& object_url);
  bool FollowStreamRedirect(const std::string& object_url);
  // SendForBigRsp into RecvMsgCallback; false on a transport failure.
  bool Stream(Net::CHttpClientRequest& request);
  // Records code 5 when a streamed 200 answer ended before its length.
  bool AcceptStreamedBody(const std::string& url);
  bool StreamedBodyComplete() const;
  // A 200 piece with data: the file is opened on the first piece only.
  void WritePiece(bool first_piece, const char* data, uint32_t size);
  // The local file. Failures close it, set recv_status_ and are logged on
  // behalf of `function`; each write advances written_size_ and progress.
  bool OpenLocalFile(const char* function);
  bool WriteLocalFile(uint64_t offset, const char* data, uint32_t size, const char* function);
  // After the last byte: creates the file when nothing was written, and
  // cuts it to written_size_.
  bool FinishLocalFile(const char* function);
  void OnWriteFailed(const char* function);
  // Calls progress_callback when the percentage written has grown.
  void ReportProgress();
  // Records `code` with recv_status_ as subcode.
  void RecordRecvStatusError(int32_t code) const;
  // Reaches the streaming state in unit tests.
  friend class CDownloadToFilePeer;

  std::shared_ptr<ObjectImpl> conf_;
  std::string upload_base_;
  std::string download_base_;
  SSigner signer_;  // the Host value and the keys

  // State of a download to a file.
  int32_t recv_status_ = -1;
  std::string redirect_location_;
  Net::HttpClient::Error recv_error_;
  std::string local_path_;
  uint64_t content_length_ = 0;
  uint64_t written_size_ = 0;
  int32_t last_percent_ = 0;
  File::CLocalFile file_handle_;
};

}  // namespace CloudStorage
}  // namespace Orca

#endif  // ORCA_CS_OBJECTPROTOCLIENT_H_
