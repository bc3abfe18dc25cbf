// CObjectProtoClient: the three requests of a multipart upload.
#include "base/StrFmt.h"
#include "proto/Proto.h"
#include "protocol/ObjectProtoClient.h"
#include "wire/Constants.h"
#include "wire/Logging.h"
#include "wire/RequestText.h"

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

Status CObjectProtoClient::CreatePartTask(std::string& task_id, const std::string& object_key) {
  const std::string bucket_object =
      Base::str_fmt("bucket[%s], object[%s]", conf_->config.pool_name.c_str(), object_key.c_str());
  SRequestFrame frame;
  frame.method = "POST";
  frame.resource = ResourcePath(object_key) + "?uploads";
  frame.url = upload_base_ + frame.resource;
  // Its answer names the upload: a broken one is asked for again, which at
  // worst leaves an unused upload behind.
  frame.repeat = Repeat::kAlways;
  // The answer is a small document: a longer one is neither kept nor accepted.
  frame.max_response_body = proto::kMaxDocumentBytes;
  ORCA_CS_FUNCTION_NAME(function);
  SRequestTexts texts =
      RequestTexts(function.c_str(), "create part task failed, " + bucket_object, "CreatePartTask");
  texts.parse_failed = "create part task failed";
  texts.no_space = true;
  // The upload id goes into the query of every later request of the upload.
  Status status = ExchangeForText(signer_, frame, texts, "/InitiateMultipartUploadResult/UploadId",
                                  &FindTargetUnsafeByte, "upload id", task_id);
  if (!status.ok()) {
    return status;
  }
  LOG_SUCCESS("[%s][Client]create part task success, %s, task_id[%s][%s(%d)]",
              bucket_object.c_str(), task_id.c_str());
  return Status();
}

Status CObjectProtoClient::UploadPartObject(const std::string& object_key,
                                            const std::string& location, uint32_t part_number,
                                            const std::string& task_id, const char* data,
                                            uint32_t size) {
  const std::string part = Base::str_fmt(
      "upload part object[bucket:%s object:%s][taskid:%s:%d] failed",
      conf_->config.pool_name.c_str(), object_key.c_str(), task_id.c_str(), part_number);
  const SRequestFrame frame =
      DataNodeFrame("POST", location,
                    ResourcePath(object_key) +
                        Base::str_fmt("?upload_id=%s&part_number=%u", task_id.c_str(), part_number),
                    data, size);
  ORCA_CS_FUNCTION_NAME(function);
  SRequestTexts texts = RequestTexts(function.c_str(), part, "UploadPartObject");
  texts.no_space = true;
  Net::CHttpClientResponse response;
  return Exchange(signer_, frame, texts, response);
}

// The list is taken by value: the call owns its copy.
Status CObjectProtoClient::FinishPartTask(
    const std::string& task_id, const std::string& object_key,
    PartList parts) {  // NOLINT(performance-unnecessary-value-param)
  const std::string task =
      Base::str_fmt("finish part task[bucket:%s object:%s][taskid:%s] failed",
                    conf_->config.pool_name.c_str(), object_key.c_str(), task_id.c_str());
  const std::string document = CompletionDocument(parts);
  SRequestFrame frame;
  frame.method = "POST";
  frame.resource = ResourcePath(object_key) + "?upload_id=" + task_id;
  frame.url = upload_base_ + frame.resource;
  frame.body = document.data();
  frame.body_size = static_cast<uint32_t>(document.size());
  frame.body_md5 = true;
  frame.receive_timeout_ms = kFinishPartTaskTimeoutMs;
  ORCA_CS_FUNCTION_NAME(function);
  SRequestTexts texts = RequestTexts(function.c_str(), task, "FinishPartTask");
  texts.no_space = true;
  Net::CHttpClientResponse response;
  return Exchange(signer_, frame, texts, response);
}

}  // namespace CloudStorage
}  // namespace Orca
