// CObjectProtoClient: set-up, the request frame, best node, object upload,
// download to memory and removal.
#include "protocol/ObjectProtoClient.h"

#include <climits>
#include <memory>
#include <utility>

#include "base/StrFmt.h"
#include "proto/Proto.h"
#include "protocol/MemoryBody.h"
#include "protocol/Redirect.h"
#include "wire/Logging.h"
#include "wire/RequestText.h"

namespace Orca {
namespace CloudStorage {
namespace {

constexpr char kXmlContentType[] = "application/xml; charset=utf-8";
constexpr char kBinaryContentType[] = "binary/octet-stream";

int TimeoutMs(uint32_t ms) { return ms > INT_MAX ? INT_MAX : static_cast<int>(ms); }

}  // namespace

bool CObjectProtoClient::Init(const std::shared_ptr<ObjectImpl>& conf) {
  if (!conf) {
    LOG_ERROR("[%s]Init failed, server_config is nullptr.[%s(%d)]");
    return false;
  }
  conf_ = conf;
  const SStorageServerConfig& config = conf_->config;
  const std::string scheme = config.use_https ? "https://" : "http://";
  upload_base_ = Base::str_fmt("%s%s:%u", scheme.c_str(), config.ip.c_str(), config.upload_port);
  download_base_ =
      Base::str_fmt("%s%s:%u", scheme.c_str(), config.ip.c_str(), config.download_port);
  signer_.host = Base::str_fmt("%s:%u", config.ip.c_str(), config.upload_port);
  signer_.ak = config.ak;
  signer_.sk = config.sk;
  return true;
}

std::string CObjectProtoClient::ResourcePath(const std::string& object_key) const {
  return "/" + conf_->config.pool_name + "/" + object_key;
}

SRequestFrame CObjectProtoClient::DataNodeFrame(const char* method, const std::string& location,
                                                std::string resource, const char* data,
                                                uint32_t size) const {
  SRequestFrame frame;
  frame.method = method;
  frame.url = NodeBase(location) + resource;
  frame.resource = std::move(resource);
  frame.content_type = kBinaryContentType;
  frame.body = data;
  frame.body_size = size;
  frame.body_md5 = true;
  return frame;
}

std::string CObjectProtoClient::NodeBase(const std::string& location) const {
  return (conf_->config.use_https ? "https://" : "http://") + location;
}

bool CObjectProtoClient::Fail(const Status& status) const { return conf_->Record(status); }

Status CObjectProtoClient::DownloadStatusError(int status, const std::string& body) {
  if (body.find("NoSuchBucket") != std::string::npos) {
    return Status(ErrorCode::kNoSuchBucket, "NoSuchBucket");
  }
  if (body.find("NoSuchKey") != std::string::npos) {
    return Status(ErrorCode::kNoSuchKey, "NoSuchKey");
  }
  return Status(ErrorCode::kBadAnswer,
                Base::str_fmt("DownloadObject rsp status code[%d].", status));
}

bool CObjectProtoClient::GetBestNode(std::string& location, const std::string& object_key) {
  SRequestFrame frame;
  frame.method = "GET";
  frame.resource = ResourcePath(object_key) + "?bestnode";
  frame.url = upload_base_ + frame.resource;
  frame.content_type = kXmlContentType;
  // The answer is a small document: a longer one is neither kept nor accepted.
  frame.max_response_body = proto::kMaxDocumentBytes;
  ORCA_CS_FUNCTION_NAME(function);
  SRequestTexts texts{function.c_str(),
                      "Client",
                      "send get best node failed",
                      "Send get best node msg failed",
                      "get best node failed",
                      "get best node failed",
                      "get best node"};
  Net::CHttpClientResponse response;
  proto::CXmlProto document;
  const Status status = Exchange(signer_, frame, texts, response, &document);
  if (!status.ok()) {
    return Fail(status);
  }
  std::string found = document.get_v("/BestNodeInfo/Location", "");
  // The node goes into the authority of the upload URLs.
  const size_t unsafe = FindAuthorityUnsafeByte(found);
  if (unsafe != std::string::npos) {
    const std::string problem = DescribeUnsafeByte("location", found, unsafe);
    LOG_ERROR("[%s][Client]get best node failed, %s[%s(%d)]", problem.c_str());
    return Fail(Status(ErrorCode::kBadAnswer, "get best node rsp " + problem + "."));
  }
  location = std::move(found);
  LOG_SUCCESS("[%s][Client]get best node success, location[%s][%s(%d)]", location.c_str());
  return true;
}

bool CObjectProtoClient::UploadObject(std::string& object_url, const std::string& location,
                                      const std::string& object_key, const char* data,
                                      uint32_t size) {
  const SRequestFrame frame = DataNodeFrame("PUT", location, ResourcePath(object_key), data, size);
  ORCA_CS_FUNCTION_NAME(function);
  SRequestTexts texts{function.c_str(),
                      "Client",
                      "send upload object failed",
                      "Send upload object msg failed",
                      "upload object failed",
                      "upload object failed",
                      "upload object"};
  texts.no_space = true;
  Net::CHttpClientResponse response;
  const Status status = Exchange(signer_, frame, texts, response);
  if (!status.ok()) {
    return Fail(status);
  }
  LOG_SUCCESS("[%s][Client]upload object success, url[%s][%s(%d)]", frame.resource.c_str());
  object_url = frame.resource;
  return true;
}

void CObjectProtoClient::SetConfiguredTimeouts(SRequestFrame& frame) const {
  frame.receive_timeout_ms = TimeoutMs(conf_->receive_timeout.load(std::memory_order_relaxed));
  frame.send_timeout_ms = TimeoutMs(conf_->send_timeout.load(std::memory_order_relaxed));
}

bool CObjectProtoClient::SendObjectMsg(Net::CHttpClientResponse& response,
                                       const std::string& base_url, const std::string& resource,
                                       const std::string& method, const std::string& body,
                                       const std::string& range,
                                       const Net::CHttpClientRequest::BodyStorage& storage,
                                       uint64_t max_body) {
  SRequestFrame frame;
  frame.method = method;
  frame.url = base_url + resource;
  frame.resource = resource;
  if (!range.empty()) {
    frame.extra_headers.emplace_back("Range", "bytes=" + range);
    LOG_TRACE("[%s][Client]send object msg, url:%s%s, range[%s][%s(%d)]", base_url.c_str(),
              resource.c_str(), range.c_str());
  }
  SetConfiguredTimeouts(frame);
  if (!body.empty()) {
    frame.body = body.data();
    frame.body_size = static_cast<uint32_t>(body.size());
  }
  frame.max_response_body = max_body;
  frame.storage = storage;
  ORCA_CS_FUNCTION_NAME(function);
  // The status is the caller's to judge.
  const SRequestTexts texts{function.c_str(),
                            "Client",
                            "send object msg failed, url:" + base_url + resource,
                            "SendObjectMsg msg failed",
                            "",
                            "",
                            "SendObjectMsg"};
  const Status status = SendRequest(signer_, frame, texts, response);
  return status.ok() || Fail(status);
}

bool CObjectProtoClient::CheckMemoryBody(const Net::CHttpClientResponse& response) const {
  const std::string problem = CMemoryBody::Problem(response);
  if (problem.empty()) {
    return true;
  }
  LOG_ERROR("[%s][Client]download object failed, %s[%s(%d)]", problem.c_str());
  conf_->RecordError(5, Base::str_fmt("DownloadObject rsp %s.", problem.c_str()));
  return false;
}

bool CObjectProtoClient::FetchObject(Net::CHttpClientResponse& response, const std::string& range,
                                     const std::string& object_url, const char* function,
                                     const Net::CHttpClientRequest::BodyStorage& storage,
                                     uint64_t max_body) {
  if (!SendObjectMsg(response, download_base_, object_url, "GET", "", range, storage, max_body)) {
    ORCA_CS_LOG_AS(veklog::kLevelError, function,
                   "[%s][Client]send download object failed, url:%s[%s(%d)]", object_url.c_str());
    return false;
  }
  const int status = response.GetStatusCode();
  if (status == 200) {
    return true;
  }
  if (!IsRedirectStatus(status)) {
    ORCA_CS_LOG_AS(veklog::kLevelError, function,
                   "[%s][Client]send download object failed, url:%s, status code:%d, "
                   "body:%s[%s(%d)]",
                   download_base_.c_str(), status, QuoteBody(response.GetBody()).c_str());
    return Fail(DownloadStatusError(status, response.GetBody()));
  }
  std::string location;
  response.GetHeaderField(location, "Location");
  std::string base;
  std::string path;
  if (!SplitLocation(location, conf_->config.use_https, base, path)) {
    ORCA_CS_LOG_AS(veklog::kLevelError, function,
                   "[%s][Client]send download object failed, invalid new Location:%s[%s(%d)]",
                   location.c_str());
    conf_->RecordError(6, Base::str_fmt("redirect url error[%s].", location.c_str()));
    return false;
  }
  if (!SendObjectMsg(response, base, path, "GET", "", range, storage, max_body)) {
    ORCA_CS_LOG_AS(veklog::kLevelError, function,
                   "[%s][Client]send download object failed, redirect url:%s[%s(%d)]",
                   location.c_str());
    return false;
  }
  const int redirected_status = response.GetStatusCode();
  if (redirected_status != 200) {
    ORCA_CS_LOG_AS(veklog::kLevelError, function,
                   "[%s][Client]send download object failed, redirect url:%s, status code:%d, "
                   "body:%s[%s(%d)]",
                   location.c_str(), redirected_status, QuoteBody(response.GetBody()).c_str());
    conf_->RecordError(5, Base::str_fmt("DownloadObject rsp status code[%d].", redirected_status));
    return false;
  }
  return true;
}

bool CObjectProtoClient::DownloadObject(char** buffer, uint32_t& length, const std::string& range,
                                        const std::string& object_url) {
  ORCA_CS_FUNCTION_NAME(function);
  CMemoryBody body;
  Net::CHttpClientResponse response;
  if (!FetchObject(response, range, object_url, function.c_str(), body.Storage()) ||
      !CheckMemoryBody(response)) {
    return false;
  }
  char* out = body.Release(response, length);
  if (out == nullptr) {
    const auto size = static_cast<uint32_t>(response.GetContentLength());
    LOG_ERROR("[%s][Client]download object failed, no memory for %u bytes[%s(%d)]", size);
    conf_->RecordError(5, Base::str_fmt("no memory for %u bytes.", size));
    return false;
  }
  *buffer = out;
  return true;
}

bool CObjectProtoClient::Remove(const std::string& object_url, const std::string& query,
                                const char* function) {
  SRequestFrame frame;
  frame.method = "DELETE";
  frame.resource = object_url + query;
  frame.url = upload_base_ + frame.resource;
  frame.content_type = kXmlContentType;
  const SRequestTexts texts{function,
                            "Client",
                            "send remove object[" + object_url + "] failed",
                            "send remove object failed",
                            "remove object failed",
                            "remove object failed",
                            "remove object"};
  Net::CHttpClientResponse response;
  const Status status = Exchange(signer_, frame, texts, response);
  if (!status.ok()) {
    return Fail(status);
  }
  ORCA_CS_LOG_AS(veklog::kLevelSuccess, function,
                 "[%s][Client]remove object success, url[%s][%s(%d)]", object_url.c_str());
  return true;
}

bool CObjectProtoClient::RemoveFile(const std::string& object_url) {
  ORCA_CS_FUNCTION_NAME(function);
  return Remove(object_url, "", function.c_str());
}

bool CObjectProtoClient::RemoveObjectFile(const std::string& object_url) {
  ORCA_CS_FUNCTION_NAME(function);
  return Remove(object_url, "?deletefile", function.c_str());
}

}  // namespace CloudStorage
}  // namespace Orca
