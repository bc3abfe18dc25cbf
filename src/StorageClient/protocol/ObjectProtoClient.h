// CObjectProtoClient speaks the object-storage protocol: each request
// method builds, signs, sends and judges one HTTP exchange, logs its
// failures and returns them as a Status, which the caller records. One instance serves one public
// call; the part tasks of a whole-file upload share theirs.
#ifndef ORCA_CS_OBJECTPROTOCLIENT_H_
#define ORCA_CS_OBJECTPROTOCLIENT_H_

#include <cstdint>
#include <memory>
#include <string>

#include "net/HttpClient.h"
#include "protocol/ObjectImpl.h"
#include "protocol/PartList.h"
#include "protocol/Redirect.h"
#include "protocol/RequestPipeline.h"

namespace Orca {
namespace CloudStorage {

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
  Status GetBestNode(std::string& location, const std::string& object_key);

  // Stores `size` bytes at `data` as `object_key` on the node `location`;
  // `object_url` receives "/" pool "/" key on success.
  Status UploadObject(std::string& object_url, const std::string& location,
                      const std::string& object_key, const char* data, uint32_t size);

  // Multipart upload: open it (the upload id is the task id), send each part
  // to the data node (parts may go side by side: this method only reads the
  // client), then complete it with the list of all parts.
  Status CreatePartTask(std::string& task_id, const std::string& object_key);
  Status UploadPartObject(const std::string& object_key, const std::string& location,
                          uint32_t part_number, const std::string& task_id, const char* data,
                          uint32_t size);
  Status FinishPartTask(const std::string& task_id, const std::string& object_key, PartList parts);

  // Sends one signed request to `base_url` + `resource` with the configured
  // time-outs and, when `range` is not empty, "Range: bytes=<range>". True
  // when an answer arrived, whatever its status. A 200 body goes to
  // `storage` when given (see CHttpClientRequest::SetBodyStorage); a
  // successful body longer than `max_body` is not read past that.
  Status SendObjectMsg(Net::CHttpClientResponse& response, const std::string& base_url,
                       const std::string& resource, const std::string& method,
                       const std::string& body, const std::string& range,
                       const Net::CHttpClientRequest::BodyStorage& storage = {},
                       uint64_t max_body = kMaxMemoryDownloadSize) const;

  // Fetches an object (or the byte range `range` of it) into a new buffer of
  // length + 1 bytes owned by the caller. `buffer` and `length` are set only
  // on success.
  Status DownloadObject(char** buffer, uint32_t& length, const std::string& range,
                        const std::string& object_url);

  // The steps of a download to a file (operations/DownloadToFile).
  // The "Object-Size" of a "?metadata" answer; 0 when it cannot be learned
  // (failures are logged, not recorded).
  uint64_t GetObjectSize(const std::string& object_url) const;
  // GET of `object_url` (or of its byte range `range`) from the download
  // base, following one redirect by the policy of `caller`. Success leaves a
  // 200 answer in `response`; failures (codes 4, 5, 6, 8, 9) are logged on
  // behalf of `function`. The body goes to `storage` when given, and is not
  // read past `max_body` bytes.
  Status FetchObject(Net::CHttpClientResponse& response, const std::string& range,
                     const std::string& object_url, RedirectCaller caller, const char* function,
                     const Net::CHttpClientRequest::BodyStorage& storage = {},
                     uint64_t max_body = kMaxMemoryDownloadSize) const;
  // The GET of a streamed download of `object_url` from `base`, signed for
  // the object URL, with the configured time-outs or none; asking for the
  // bytes from `resume_from` on (a Range) when it is not 0.
  Net::CHttpClientRequest StreamRequest(const std::string& base, const std::string& object_url,
                                        bool configured_timeouts, uint64_t resume_from = 0) const;
  const std::string& download_base() const { return download_base_; }
  // The client state it reads, into which its callers record failures.
  const std::shared_ptr<ObjectImpl>& conf() const { return conf_; }
  // The call this client's requests belong to.
  const CCall& call() const { return signer_.call; }

  // DELETE the object; RemoveObjectFile adds "?deletefile".
  Status RemoveFile(const std::string& object_url);
  Status RemoveObjectFile(const std::string& object_url);

 private:
  // A binary body with its Content-MD5, sent to a data node.
  SRequestFrame DataNodeFrame(const char* method, const std::string& location, std::string resource,
                              const char* data, uint32_t size) const;
  // "/" pool "/" key
  std::string ResourcePath(const std::string& object_key) const;
  // The scheme followed by a node location.
  std::string NodeBase(const std::string& location) const;
  // What a failed download answer means: code 8 for NoSuchBucket, 9 for
  // NoSuchKey, else 5.
  static Status DownloadStatusError(int status, const std::string& body);
  // Checks that a 200 answer holds its whole body and fits the 32-bit
  // length of a memory download; code 5 otherwise.
  Status CheckMemoryBody(const Net::CHttpClientResponse& response) const;
  // Sets the configured receive and send time-outs on `frame`.
  void SetConfiguredTimeouts(SRequestFrame& frame) const;
  // The removal request; records are written on behalf of `function`.
  Status Remove(const std::string& object_url, const std::string& query, const char* function);

  std::shared_ptr<ObjectImpl> conf_;
  std::string upload_base_;
  std::string download_base_;
  SSigner signer_;  // the Host value and the keys
};

}  // namespace CloudStorage
}  // namespace Orca

#endif  // ORCA_CS_OBJECTPROTOCLIENT_H_
