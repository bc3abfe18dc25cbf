// CObjectProtoClient: set-up, the request frame, best node, object upload,
// download to memory and removal.
#include "ObjectProtoClient.h"

#include <climits>
#include <memory>
#include <utility>

#include "Logging.h"
#include "Md5.h"
#include "MemoryBody.h"
#include "Redirect.h"
#include "Signature.h"
#include "base/StrFmt.h"
#include "proto/Proto.h"

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
  host_ = Base::str_fmt("%s:%u", config.ip.c_str(), config.upload_port);
  return true;
}

std::string CObjectProtoClient::ResourcePath(const std::string& object_key) const {
  return "/" + conf_->config.pool_name + "/" + object_key;
}

CObjectProtoClient::RequestFrame CObjectProtoClient::DataNodeFrame(const char* method,
                                                                   const std::string& location,
                                                                   std::string resource,
                                                                   const char* data,
                                                                   uint32_t size) const {
  RequestFrame frame;
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

Net::CHttpClientRequest CObjectProtoClient::NewRequest(const RequestFrame& frame) const {
  Net::CHttpClientRequest request;
  request.SetURL(Net::URL(frame.url));
  request.SetMethod(frame.method);
  if (frame.host) {
    request.AddHeaderField("Host", host_);
  }
  const std::string date = MakeHttpDate();
  request.AddHeaderField("Date", date);
  if (!frame.content_type.empty()) {
    request.SetContentType(frame.content_type);
  }
  std::string content_md5;
  if (frame.body_md5) {
    content_md5 = MakeContentMd5(frame.body, frame.body_size);
    if (!content_md5.empty()) {
      request.AddHeaderField("Content-MD5", content_md5);
    }
  }
  const SStorageServerConfig& config = conf_->config;
  const std::string signature = MakeSignature(frame.method, content_md5, frame.content_type, date,
                                              "", frame.resource, config.sk);
  request.AddHeaderField("Authorization", MakeAuthorization(config.ak, signature));
  if (frame.body != nullptr) {
    request.SetDataRef(frame.body, frame.body_size);
  }
  if (frame.receive_timeout_ms != 0) {
    request.SetReceiveTimeout(frame.receive_timeout_ms);
  }
  request.SetMaxResponseBody(frame.max_response_body);
  return request;
}

bool CObjectProtoClient::SendFrame(const RequestFrame& frame, const char* function,
                                   Net::CHttpClientResponse& response,
                                   Net::HttpClient::Error& error) const {
  Net::CHttpClientRequest request = NewRequest(frame);
  ORCA_CS_LOG_AS(veklog::kLevelTrace, function, "[%s][Client]send url[%s][%s(%d)]",
                 request.GetURL().ToStdString(true).c_str());
  return Net::HttpClient::Send(request, response, error);
}

void CObjectProtoClient::RecordUploadStatusError(int status, const std::string& body,
                                                 const std::string& message) const {
  conf_->RecordError(5, message);
  if (status == 500 && body.find("NotEnoughSpace") != std::string::npos) {
    conf_->RecordError(7, Base::str_fmt("upload object rsp status code[%d].", status));
  }
}

void CObjectProtoClient::RecordDownloadStatusError(int status, const std::string& body) const {
  if (body.find("NoSuchBucket") != std::string::npos) {
    conf_->RecordError(8, "NoSuchBucket");
  } else if (body.find("NoSuchKey") != std::string::npos) {
    conf_->RecordError(9, "NoSuchKey");
  } else {
    conf_->RecordError(5, Base::str_fmt("DownloadObject rsp status code[%d].", status));
  }
}

bool CObjectProtoClient::GetBestNode(std::string& location, const std::string& object_key) {
  RequestFrame frame;
  frame.method = "GET";
  frame.resource = ResourcePath(object_key) + "?bestnode";
  frame.url = upload_base_ + frame.resource;
  frame.content_type = kXmlContentType;
  // The answer is a small document: a longer one is neither kept nor accepted.
  frame.max_response_body = proto::kMaxDocumentBytes;
  ORCA_CS_FUNCTION_NAME(function);
  Net::CHttpClientResponse response;
  Net::HttpClient::Error error;
  if (!SendFrame(frame, function.c_str(), response, error)) {
    LOG_ERROR("[%s][Client]send get best node failed, error[%d:%d][%s(%d)]", error.major,
              error.minor);
    conf_->RecordError(
        4, Base::str_fmt("Send get best node msg failed[%d:%d].", error.major, error.minor));
    return false;
  }
  const int status = response.GetStatusCode();
  const std::string& body = response.GetBody();
  if (status != 200) {
    LOG_ERROR("[%s][Client]get best node failed, error[%d:%s][%s(%d)]", status,
              QuoteBody(body).c_str());
    conf_->RecordError(5, Base::str_fmt("get best node rsp status code[%d].", status));
    return false;
  }
  proto::CXmlProto document;
  if (!document.set_str(body)) {
    LOG_ERROR("[%s][Client]get best node failed, invalid xml[%s][%s(%d)]", QuoteBody(body).c_str());
    conf_->RecordError(
        5, Base::str_fmt("get best node rsp msg invalid[%s].", QuoteBody(body).c_str()));
    return false;
  }
  location = document.get_v("/BestNodeInfo/Location", "");
  LOG_SUCCESS("[%s][Client]get best node success, location[%s][%s(%d)]", location.c_str());
  return true;
}

bool CObjectProtoClient::UploadObject(std::string& object_url, const std::string& location,
                                      const std::string& object_key, const char* data,
                                      uint32_t size) {
  const RequestFrame frame = DataNodeFrame("PUT", location, ResourcePath(object_key), data, size);
  ORCA_CS_FUNCTION_NAME(function);
  Net::CHttpClientResponse response;
  Net::HttpClient::Error error;
  if (!SendFrame(frame, function.c_str(), response, error)) {
    LOG_ERROR("[%s][Client]send upload object failed, error[%d:%d][%s(%d)]", error.major,
              error.minor);
    conf_->RecordError(
        4, Base::str_fmt("Send upload object msg failed[%d:%d].", error.major, error.minor));
    return false;
  }
  const int status = response.GetStatusCode();
  const std::string& body = response.GetBody();
  if (status != 200) {
    LOG_ERROR("[%s][Client]upload object failed, error[%d:%s][%s(%d)]", status,
              QuoteBody(body).c_str());
    RecordUploadStatusError(status, body,
                            Base::str_fmt("upload object rsp status code[%d].", status));
    return false;
  }
  LOG_SUCCESS("[%s][Client]upload object success, url[%s][%s(%d)]", frame.resource.c_str());
  object_url = frame.resource;
  return true;
}

void CObjectProtoClient::SetConfiguredTimeouts(Net::CHttpClientRequest& request) const {
  request.SetReceiveTimeout(TimeoutMs(conf_->receive_timeout.load(std::memory_order_relaxed)));
  request.SetSendTimeout(TimeoutMs(conf_->send_timeout.load(std::memory_order_relaxed)));
}

bool CObjectProtoClient::SendObjectMsg(Net::CHttpClientResponse& response,
                                       const std::string& base_url, const std::string& resource,
                                       const std::string& method, const std::string& body,
                                       const std::string& range,
                                       const Net::CHttpClientRequest::BodyStorage& storage,
                                       uint64_t max_body) {
  RequestFrame frame;
  frame.method = method;
  frame.url = base_url + resource;
  frame.resource = resource;
  Net::CHttpClientRequest request = NewRequest(frame);
  if (!range.empty()) {
    request.AddHeaderField("Range", "bytes=" + range);
    LOG_TRACE("[%s][Client]send object msg, url:%s%s, range[%s][%s(%d)]", base_url.c_str(),
              resource.c_str(), range.c_str());
  }
  SetConfiguredTimeouts(request);
  if (!body.empty()) {
    request.SetDataRef(body.data(), body.size());
  }
  request.SetMaxResponseBody(max_body);
  request.SetBodyStorage(storage);
  LOG_TRACE("[%s][Client]send url[%s][%s(%d)]", request.GetURL().ToStdString(true).c_str());

  Net::HttpClient::Error error;
  if (!Net::HttpClient::Send(request, response, error)) {
    LOG_ERROR("[%s][Client]send object msg failed, url:%s%s, error[%d:%d][%s(%d)]",
              base_url.c_str(), resource.c_str(), error.major, error.minor);
    conf_->RecordError(4,
                       Base::str_fmt("SendObjectMsg msg failed[%d:%d].", error.major, error.minor));
    return false;
  }
  return true;
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
    RecordDownloadStatusError(status, response.GetBody());
    return false;
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
  RequestFrame frame;
  frame.method = "DELETE";
  frame.resource = object_url + query;
  frame.url = upload_base_ + frame.resource;
  frame.content_type = kXmlContentType;
  frame.host = false;
  Net::CHttpClientResponse response;
  Net::HttpClient::Error error;
  if (!SendFrame(frame, function, response, error)) {
    ORCA_CS_LOG_AS(veklog::kLevelError, function,
                   "[%s][Client]send remove object[%s] failed, error[%d:%d][%s(%d)]",
                   object_url.c_str(), error.major, error.minor);
    conf_->RecordError(
        4, Base::str_fmt("send remove object failed[%d:%d].", error.major, error.minor));
    return false;
  }
  const int status = response.GetStatusCode();
  if (status != 200) {
    ORCA_CS_LOG_AS(veklog::kLevelError, function,
                   "[%s][Client]remove object failed, error[%d:%s][%s(%d)]", status,
                   QuoteBody(response.GetBody()).c_str());
    conf_->RecordError(5, Base::str_fmt("remove object rsp status code[%d].", status));
    return false;
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
