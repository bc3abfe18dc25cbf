// CObjectProtoClient: the download requests: to memory (whole or by range),
// the metadata, the ranges and the stream of a download to a file.
#include <algorithm>
#include <climits>
#include <map>

#include "base/StrFmt.h"
#include "proto/Proto.h"
#include "protocol/MemoryBody.h"
#include "protocol/ObjectProtoClient.h"
#include "wire/HeaderValue.h"
#include "wire/Logging.h"

namespace Orca {
namespace CloudStorage {
namespace {

constexpr char kSendObjectMsg[] = "Orca::CloudStorage::CObjectProtoClient::SendObjectMsg";

int TimeoutMs(uint32_t ms) { return ms > INT_MAX ? INT_MAX : static_cast<int>(ms); }

}  // namespace

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

void CObjectProtoClient::SetConfiguredTimeouts(SRequestFrame& frame) const {
  frame.receive_timeout_ms = TimeoutMs(conf_->receive_timeout.load(std::memory_order_relaxed));
  frame.send_timeout_ms = TimeoutMs(conf_->send_timeout.load(std::memory_order_relaxed));
}

Status CObjectProtoClient::SendObjectMsg(Net::CHttpClientResponse& response,
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

Status CObjectProtoClient::CheckMemoryBody(const Net::CHttpClientResponse& response) const {
  const std::string problem = CMemoryBody::Problem(response);
  if (problem.empty()) {
    return Status();
  }
  LOG_ERROR("[%s][Client]download object failed, %s[%s(%d)]", problem.c_str());
  return Status(ErrorCode::kBadAnswer, Base::str_fmt("DownloadObject rsp %s.", problem.c_str()));
}

Status CObjectProtoClient::FetchObject(Net::CHttpClientResponse& response, const std::string& range,
                                       const std::string& object_url, RedirectCaller caller,
                                       const char* function,
                                       const Net::CHttpClientRequest::BodyStorage& storage,
                                       uint64_t max_body) const {
  const SendGet send = [&](const std::string& base, const std::string& target,
                           Net::CHttpClientResponse& answer) {
    return SendObjectMsg(answer, base, target, "GET", "", range, storage, max_body);
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
  const SRequestTexts texts = RequestTexts(kDownloadObject, "get metadata failed", "metadata");
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
                                                          bool configured_timeouts,
                                                          uint64_t resume_from) const {
  SRequestFrame frame;
  frame.method = "GET";
  frame.url = base + object_url;
  frame.resource = object_url;
  if (configured_timeouts) {
    SetConfiguredTimeouts(frame);
  }
  if (resume_from > 0) {
    frame.extra_headers.emplace_back("Range", "bytes=" + std::to_string(resume_from) + "-");
  }
  return BuildRequest(signer_, frame);
}

Status CObjectProtoClient::DownloadObject(char** buffer, uint32_t& length, const std::string& range,
                                          const std::string& object_url) {
  ORCA_CS_FUNCTION_NAME(function);
  CMemoryBody body;
  Net::CHttpClientResponse response;
  Status fetched = FetchObject(response, range, object_url, RedirectCaller::kMemoryDownload,
                               function.c_str(), body.Storage());
  if (!fetched.ok()) {
    return fetched;
  }
  Status whole = CheckMemoryBody(response);
  if (!whole.ok()) {
    return whole;
  }
  char* out = body.Release(response, length);
  if (out == nullptr) {
    const auto size = static_cast<uint32_t>(response.GetContentLength());
    LOG_ERROR("[%s][Client]download object failed, no memory for %u bytes[%s(%d)]", size);
    return Status(ErrorCode::kBadAnswer, Base::str_fmt("no memory for %u bytes.", size));
  }
  *buffer = out;
  return Status();
}

}  // namespace CloudStorage
}  // namespace Orca
