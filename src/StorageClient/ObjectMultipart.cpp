// CObjectProtoClient: the three requests of a multipart upload.
#include "Constants.h"
#include "Logging.h"
#include "ObjectProtoClient.h"
#include "base/StrFmt.h"
#include "proto/Proto.h"

namespace Orca {
namespace CloudStorage {
namespace {

// The CompleteMultipartUpload document: the part count, then one Part element
// per entry in ascending part number, numbered by position from 1.
std::string CompletionDocument(const PartList& parts) {
  proto::CXmlProto document;
  document.set_v("/CompleteMultipartUpload/TotalPartNum", static_cast<int64_t>(parts.size()));
  int position = 0;
  for (const auto& [part_number, part] : parts) {
    const std::string path = Base::str_fmt("/CompleteMultipartUpload/Part[%d]", ++position);
    document.set_v(path + "/PartNumber", static_cast<int64_t>(part_number));
    document.set_v(path + "/PartSize", static_cast<int64_t>(part.part_size));
    document.set_v(path + "/ETag", part.etag);
  }
  return document.get_str(0);
}

}  // namespace

bool CObjectProtoClient::CreatePartTask(std::string& task_id, const std::string& object_key) {
  const std::string& pool = conf_->config.pool_name;
  RequestFrame frame;
  frame.method = "POST";
  frame.resource = ResourcePath(object_key) + "?uploads";
  frame.url = upload_base_ + frame.resource;
  // The answer is a small document: a longer one is neither kept nor accepted.
  frame.max_response_body = proto::kMaxDocumentBytes;
  ORCA_CS_FUNCTION_NAME(function);
  Net::CHttpClientResponse response;
  Net::HttpClient::Error error;
  if (!SendFrame(frame, function.c_str(), response, error)) {
    LOG_ERROR(
        "[%s][Client]send create part task failed, bucket[%s], object[%s], error[%d:%d][%s(%d)]",
        pool.c_str(), object_key.c_str(), error.major, error.minor);
    conf_->RecordError(
        4, Base::str_fmt("Send CreatePartTask msg failed[%d:%d].", error.major, error.minor));
    return false;
  }
  const int status = response.GetStatusCode();
  const std::string& body = response.GetBody();
  if (status != 200) {
    LOG_ERROR("[%s][Client]create part task failed, bucket[%s], object[%s], error[%d:%s][%s(%d)]",
              pool.c_str(), object_key.c_str(), status, QuoteBody(body).c_str());
    RecordUploadStatusError(status, body,
                            Base::str_fmt("CreatePartTask rsp status code[%d].", status));
    return false;
  }
  proto::CXmlProto document;
  if (!document.set_str(body)) {
    LOG_ERROR("[%s][Client]create part task failed, invalid xml[%s][%s(%d)]",
              QuoteBody(body).c_str());
    conf_->RecordError(
        5, Base::str_fmt("CreatePartTask rsp msg invalid[%s].", QuoteBody(body).c_str()));
    return false;
  }
  task_id = document.get_v("/InitiateMultipartUploadResult/UploadId", "");
  LOG_SUCCESS("[%s][Client]create part task success, bucket[%s], object[%s], task_id[%s][%s(%d)]",
              pool.c_str(), object_key.c_str(), task_id.c_str());
  return true;
}

bool CObjectProtoClient::UploadPartObject(const std::string& object_key,
                                          const std::string& location, uint32_t part_number,
                                          const std::string& task_id, const char* data,
                                          uint32_t size) {
  const std::string& pool = conf_->config.pool_name;
  const RequestFrame frame =
      DataNodeFrame("POST", location,
                    ResourcePath(object_key) +
                        Base::str_fmt("?upload_id=%s&part_number=%u", task_id.c_str(), part_number),
                    data, size);
  ORCA_CS_FUNCTION_NAME(function);
  Net::CHttpClientResponse response;
  Net::HttpClient::Error error;
  if (!SendFrame(frame, function.c_str(), response, error)) {
    LOG_ERROR(
        "[%s][Client]send upload part object[bucket:%s object:%s][taskid:%s:%d] failed, "
        "error[%d:%d][%s(%d)]",
        pool.c_str(), object_key.c_str(), task_id.c_str(), part_number, error.major, error.minor);
    conf_->RecordError(
        4, Base::str_fmt("Send UploadPartObject msg failed[%d:%d].", error.major, error.minor));
    return false;
  }
  const int status = response.GetStatusCode();
  if (status != 200) {
    const std::string& body = response.GetBody();
    LOG_ERROR(
        "[%s][Client]upload part object[bucket:%s object:%s][taskid:%s:%d] failed, "
        "error[%d:%s][%s(%d)]",
        pool.c_str(), object_key.c_str(), task_id.c_str(), part_number, status,
        QuoteBody(body).c_str());
    RecordUploadStatusError(status, body,
                            Base::str_fmt("UploadPartObject rsp status code[%d].", status));
    return false;
  }
  return true;
}

// The list is taken by value: the call owns its copy.
bool CObjectProtoClient::FinishPartTask(
    const std::string& task_id, const std::string& object_key,
    PartList parts) {  // NOLINT(performance-unnecessary-value-param)
  const std::string& pool = conf_->config.pool_name;
  const std::string document = CompletionDocument(parts);
  RequestFrame frame;
  frame.method = "POST";
  frame.resource = ResourcePath(object_key) + "?upload_id=" + task_id;
  frame.url = upload_base_ + frame.resource;
  frame.body = document.data();
  frame.body_size = static_cast<uint32_t>(document.size());
  frame.body_md5 = true;
  frame.receive_timeout_ms = kFinishPartTaskTimeoutMs;
  ORCA_CS_FUNCTION_NAME(function);
  Net::CHttpClientResponse response;
  Net::HttpClient::Error error;
  if (!SendFrame(frame, function.c_str(), response, error)) {
    LOG_ERROR(
        "[%s][Client]send finish part task[bucket:%s object:%s][taskid:%s] failed, "
        "error[%d:%d][%s(%d)]",
        pool.c_str(), object_key.c_str(), task_id.c_str(), error.major, error.minor);
    conf_->RecordError(
        4, Base::str_fmt("Send FinishPartTask msg failed[%d:%d].", error.major, error.minor));
    return false;
  }
  const int status = response.GetStatusCode();
  if (status != 200) {
    const std::string& body = response.GetBody();
    LOG_ERROR(
        "[%s][Client]finish part task[bucket:%s object:%s][taskid:%s] failed, "
        "error[%d:%s][%s(%d)]",
        pool.c_str(), object_key.c_str(), task_id.c_str(), status, QuoteBody(body).c_str());
    RecordUploadStatusError(status, body,
                            Base::str_fmt("FinishPartTask rsp status code[%d].", status));
    return false;
  }
  return true;
}

}  // namespace CloudStorage
}  // namespace Orca
