#include "PictureProtoClient.h"

#include "Constants.h"
#include "Logging.h"
#include "MemoryBody.h"
#include "Redirect.h"
#include "Signature.h"
#include "base/Clock.h"
#include "base/Guid.h"
#include "base/StrFmt.h"
#include "proto/Proto.h"

namespace Orca {
namespace CloudStorage {
namespace {

constexpr char kBoundary[] = "------7e02362550dc4";
constexpr char kWritePath[] = "/QuarnBox/Picture/Write";

std::string FormField(const char* name, const std::string& value) {
  return std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name +
         "\"\r\n\r\n" + value + "\r\n";
}

bool IsRedirect(int status) { return status >= 300 && status <= 309; }

}  // namespace

std::string MakePictureFormBody(const SPictureForm& form, const char* picture, uint32_t length) {
  const std::string head =
      FormField("SerialID", form.serial_id) + FormField("PoolID", form.pool_id) +
      FormField("TimeStamp",
                Base::str_fmt("%lld000", static_cast<long long>(form.timestamp_seconds))) +
      FormField("PictureType", "1") + FormField("Token", form.token) +
      FormField("PictureLength", Base::str_fmt("%u", length)) + "--" + kBoundary +
      "\r\nContent-Disposition: form-data; name=\"Picture\"\r\nContent-Type: image/jpeg\r\n\r\n";
  const std::string closing = std::string("\r\n--") + kBoundary + "--\r\n\r\n";
  std::string body;
  body.reserve(head.size() + length + closing.size());
  body.append(head);
  body.append(picture, length);
  body.append(closing);
  return body;
}

bool CPicProtoClient::Init(const std::shared_ptr<SStorageServerConfig>& conf) {
  if (!conf) {
    return false;
  }
  conf_ = conf;
  const std::string host =
      conf_->ip.find(':') != std::string::npos ? "[" + conf_->ip + "]" : conf_->ip;
  const std::string scheme = conf_->use_https ? "https://" : "http://";
  upload_base_ = Base::str_fmt("%s%s:%u", scheme.c_str(), host.c_str(), conf_->upload_port);
  download_base_ = Base::str_fmt("%s%s:%u", scheme.c_str(), host.c_str(), conf_->download_port);
  host_header_ = Base::str_fmt("%s:%u", host.c_str(), conf_->upload_port);
  return true;
}

Net::CHttpClientRequest CPicProtoClient::NewRequest(const std::string& method,
                                                    const std::string& url,
                                                    const std::string& resource,
                                                    const std::string& content_type,
                                                    const std::string& signed_content_type) const {
  Net::CHttpClientRequest request;
  request.SetURL(Net::URL(url));
  request.SetMethod(method);
  request.AddHeaderField("Host", host_header_);
  const std::string date = MakeHttpDate();
  request.AddHeaderField("Date", date);
  if (!content_type.empty()) {
    request.SetContentType(content_type);
  }
  const std::string signature =
      MakePicSignature(method, "", signed_content_type, date, resource, conf_->sk);
  request.AddHeaderField("Authorization", MakeAuthorization(conf_->ak, signature));
  return request;
}

bool CPicProtoClient::GetBestNode(std::string& token, std::string& location) {
  const std::string path = "/QuarnBox/BestNode";
  serial_id_ = Base::CreateGuid();
  const std::string query = Base::str_fmt("?SerialID=%s&PoolID=%s&Replication=0",
                                          serial_id_.c_str(), conf_->pool_name.c_str());
  Net::CHttpClientRequest request =
      NewRequest("GET", upload_base_ + path + query, path + query, "text/json", "text/json");
  // The answer is a small document: a longer one is neither kept nor accepted.
  request.SetMaxResponseBody(proto::kMaxDocumentBytes);
  LOG_TRACE("[%s][PicClient]send url[%s][%s(%d)]", request.GetURL().ToStdString(true).c_str());

  Net::CHttpClientResponse response;
  Net::HttpClient::Error error;
  if (!Net::HttpClient::Send(request, response, error)) {
    LOG_ERROR("[%s][PicClient]send get best node failed, error[%d:%d][%s(%d)]", error.major,
              error.minor);
    return false;
  }
  const int status = response.GetStatusCode();
  const std::string& body = response.GetBody();
  if (status != 200) {
    LOG_ERROR("[%s][PicClient]get best node failed, error[%d:%s][%s(%d)]", status,
              QuoteBody(body).c_str());
    return false;
  }
  proto::CRapidJsonProto document;
  if (!document.set_str(body)) {
    LOG_ERROR("[%s][PicClient]get best node failed, invalid xml[%s][%s(%d)]",
              QuoteBody(body).c_str());
    return false;
  }
  const std::string gateway_ip = document.get_v("/GatewayIP", "");
  const std::string gateway_port = document.get_v("/GatewayPort", "");
  token = document.get_v("/Token", "");
  location = (conf_->use_https ? "https://" : "http://") + gateway_ip + ":" + gateway_port;
  LOG_SUCCESS("[%s][PicClient]get best node success, location[%s][%s(%d)]", location.c_str());
  return true;
}

bool CPicProtoClient::SendObjectMsg(Net::CHttpClientResponse& response, const std::string& base,
                                    const std::string& path, const std::string& method,
                                    const std::string& body,
                                    const Net::CHttpClientRequest::BodyStorage& storage) {
  Net::CHttpClientRequest request = NewRequest(method, base + path, path, "", "");
  if (!body.empty()) {
    request.SetDataRef(body.data(), body.size());
  }
  request.SetMaxResponseBody(kMaxMemoryDownloadSize);
  request.SetBodyStorage(storage);
  LOG_TRACE("[%s][PicClient]send url[%s][%s(%d)]", request.GetURL().ToStdString(true).c_str());
  Net::HttpClient::Error error;
  if (!Net::HttpClient::Send(request, response, error)) {
    LOG_ERROR("[%s][PicClient]send picture msg failed, url:%s%s, error[%d:%d][%s(%d)]",
              base.c_str(), path.c_str(), error.major, error.minor);
    return false;
  }
  return true;
}

bool CPicProtoClient::DownloadPic(char** buffer, uint32_t& length, const std::string& path) {
  CMemoryBody body;
  Net::CHttpClientResponse response;
  if (!SendObjectMsg(response, download_base_, path, "GET", "", body.Storage())) {
    LOG_ERROR("[%s][PicClient]send download picture failed, url:%s[%s(%d)]", path.c_str());
    return false;
  }
  const Net::CHttpClientResponse* answer = &response;
  Net::CHttpClientResponse redirected;
  if (IsRedirect(response.GetStatusCode())) {
    std::string location;
    response.GetHeaderField(location, "Location");
    std::string base;
    std::string new_path;
    if (!SplitLocation(location, conf_->use_https, base, new_path)) {
      LOG_ERROR("[%s][PicClient]send download picture failed, invalid new Location:%s[%s(%d)]",
                location.c_str());
      return false;
    }
    if (!SendObjectMsg(redirected, base, new_path, "GET", "", body.Storage())) {
      LOG_ERROR("[%s][PicClient]send download picture failed, redirect url:%s[%s(%d)]",
                location.c_str());
      return false;
    }
    if (redirected.GetStatusCode() != 200) {
      LOG_ERROR(
          "[%s][PicClient]send download picture failed, redirect url:%s, status code:%d, "
          "body:%s[%s(%d)]",
          location.c_str(), redirected.GetStatusCode(), QuoteBody(redirected.GetBody()).c_str());
      return false;
    }
    answer = &redirected;
  } else if (response.GetStatusCode() != 200) {
    LOG_ERROR(
        "[%s][PicClient]send download picture failed, url:%s, status code:%d, body:%s[%s(%d)]",
        download_base_.c_str(), response.GetStatusCode(), QuoteBody(response.GetBody()).c_str());
    return false;
  }

  const std::string problem = CMemoryBody::Problem(*answer);
  if (!problem.empty()) {
    LOG_ERROR("[%s][PicClient]download picture failed, %s[%s(%d)]", problem.c_str());
    return false;
  }
  char* out = body.Release(*answer, length);
  if (out == nullptr) {
    LOG_ERROR("[%s][PicClient]download picture failed, no memory for %u bytes[%s(%d)]",
              static_cast<uint32_t>(answer->GetContentLength()));
    return false;
  }
  *buffer = out;
  return true;
}

bool CPicProtoClient::UploadPic(std::string& picture_url, const std::string& location,
                                const std::string& token, const char* data, uint32_t length) {
  Net::CHttpClientRequest request =
      NewRequest("POST", location + kWritePath, kWritePath,
                 std::string("multipart/form-data; boundary=") + kBoundary, "multipart/form-data");
  // The answer is a small document: a longer one is neither kept nor accepted.
  request.SetMaxResponseBody(proto::kMaxDocumentBytes);
  const SPictureForm form{serial_id_, conf_->pool_name, Base::UnixTimeNow(), token};
  request.SetData(MakePictureFormBody(form, data, length));
  LOG_TRACE("[%s][PicClient]send url[%s][%s(%d)]", request.GetURL().ToStdString(true).c_str());

  Net::CHttpClientResponse response;
  Net::HttpClient::Error error;
  if (!Net::HttpClient::Send(request, response, error)) {
    LOG_ERROR("[%s][PicClient]send upload picture failed, error[%d:%d][%s(%d)]", error.major,
              error.minor);
    return false;
  }
  const int status = response.GetStatusCode();
  const std::string& body = response.GetBody();
  if (status != 200) {
    LOG_ERROR("[%s][PicClient]upload picture failed, error[%d:%s][%s(%d)]", status,
              QuoteBody(body).c_str());
    return false;
  }
  LOG_SUCCESS("[%s][PicClient]upload picture success, url[%s][%s(%d)]", kWritePath);
  proto::CRapidJsonProto document;
  if (!document.set_str(body)) {
    LOG_ERROR("[%s][PicClient]upload picture failed, invalid json[%s][%s(%d)]",
              QuoteBody(body).c_str());
    return false;
  }
  picture_url = document.get_v("/PictureUrl", "");
  return true;
}

}  // namespace CloudStorage
}  // namespace Orca
