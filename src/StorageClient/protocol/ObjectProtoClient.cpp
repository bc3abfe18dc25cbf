// CObjectProtoClient: set-up, the request frame, best node, object upload,
// download to memory and removal.
#include "protocol/ObjectProtoClient.h"

#include <charconv>
#include <climits>
#include <map>
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
constexpr char kSendObjectMsg[] = "Orca::CloudStorage::CObjectProtoClient::SendObjectMsg";
constexpr char kDownloadObject[] = "Orca::CloudStorage::CObjectProtoClient::DownloadObject";

// The leading decimal digits of `text`: 0 when there are none, the largest
// value when they overflow.
uint64_t LeadingDecimal(const std::string& text) {
  uint64_t value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc::result_out_of_range ? UINT64_MAX : value;
}

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
  const Status status =
      SendMessage(response, base_url, resource, method, body, range, storage, max_body);
  return status.ok() || Fail(status);
}

Status CObjectProtoClient::SendMessage(Net::CHttpClientResponse& response,
                                       const std::string& base_url, const std::string& resource,
                                       const std::string& method, const std::string& body,
                                       const std::string& range,
                                       const Net::CHttpClientRequest::BodyStorage& storage,
                                       uint64_t max_body) const {
  SRequestFrame frame;
  frame.method = method;
  frame.url = base_url + resource;
  frame.resource = resource;
  if (!range.empty()) {
    frame.extra_headers.emplace_back("Range", "bytes=" + range);
    ORCA_CS_LOG_AS(veklog::kLevelTrace, kSendObjectMsg,
                   "[%s][Client]send object msg, url:%s%s, range[%s][%s(%d)]", base_url.c_str(),
                   resource.c_str(), range.c_str());
  }
  SetConfiguredTimeouts(frame);
  if (!body.empty()) {
    frame.body = body.data();
    frame.body_size = static_cast<uint32_t>(body.size());
  }
  frame.max_response_body = max_body;
  frame.storage = storage;
  // The status is the caller's to judge.
  const SRequestTexts texts{kSendObjectMsg,
                            "Client",
                            "send object msg failed, url:" + base_url + resource,
                            "SendObjectMsg msg failed",
                            "",
                            "",
                            "SendObjectMsg"};
  return SendRequest(signer_, frame, texts, response);
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

Status CObjectProtoClient::FetchObject(Net::CHttpClientResponse& response, const std::string& range,
                                       const std::string& object_url, RedirectCaller caller,
                                       const char* function,
                                       const Net::CHttpClientRequest::BodyStorage& storage,
                                       uint64_t max_body) const {
  const SendGet send = [&](const std::string& base, const std::string& target,
                           Net::CHttpClientResponse& answer) {
    return SendMessage(answer, base, target, "GET", "", range, storage, max_body);
  };
  return FetchFollowingRedirect(caller, conf_->config.use_https,
                                SDownloadTexts{function, "Client", "download object"},
                                download_base_, object_url, send, &DownloadStatusError, response);
}

uint64_t CObjectProtoClient::GetObjectSize(const std::string& object_url) const {
  SRequestFrame frame;
  frame.method = "GET";
  frame.resource = object_url + "?metadata";
  frame.url = download_base_ + frame.resource;
  frame.content_type = kXmlContentType;
  // Only the header fields matter; a body is kept only as far as a log
  // record would quote it.
  frame.max_response_body = kMaxQuotedBody;
  const SRequestTexts texts{kDownloadObject,
                            "Client",
                            "send get metadata failed",
                            "get metadata failed",
                            "get metadata failed",
                            "get metadata failed",
                            "metadata"};
  Net::CHttpClientResponse response;
  if (!Exchange(signer_, frame, texts, response).ok()) {
    return 0;
  }
  std::map<std::string, std::string> headers;
  response.GetAllHeaders(headers);
  const auto object_size = headers.find("Object-Size");
  if (object_size == headers.end()) {
    ORCA_CS_LOG_AS(veklog::kLevelError, kDownloadObject,
                   "[%s][Client]get metadata failed, no Object-Size, url:%s[%s(%d)]",
                   object_url.c_str());
    return 0;
  }
  return LeadingDecimal(object_size->second);
}

Net::CHttpClientRequest CObjectProtoClient::StreamRequest(const std::string& base,
                                                          const std::string& object_url,
                                                          bool configured_timeouts) const {
  SRequestFrame frame;
  frame.method = "GET";
  frame.url = base + object_url;
  frame.resource = object_url;
  if (configured_timeouts) {
    SetConfiguredTimeouts(frame);
  }
  return BuildRequest(signer_, frame);
}

bool CObjectProtoClient::DownloadObject(char** buffer, uint32_t& length, const std::string& range,
                                        const std::string& object_url) {
  ORCA_CS_FUNCTION_NAME(function);
  CMemoryBody body;
  Net::CHttpClientResponse response;
  const Status fetched = FetchObject(response, range, object_url, RedirectCaller::kMemoryDownload,
                                     function.c_str(), body.Storage());
  if (!fetched.ok()) {
    return Fail(fetched);
  }
  if (!CheckMemoryBody(response)) {
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
