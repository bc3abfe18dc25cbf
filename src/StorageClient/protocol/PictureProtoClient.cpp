#include "protocol/PictureProtoClient.h"

#include "base/Clock.h"
#include "base/Guid.h"
#include "base/StrFmt.h"
#include "proto/Proto.h"
#include "protocol/MemoryBody.h"
#include "protocol/Redirect.h"
#include "wire/Constants.h"
#include "wire/Logging.h"
#include "wire/Signature.h"

namespace Orca {
namespace CloudStorage {
namespace {

constexpr char kBoundary[] = "------7e02362550dc4";
constexpr char kWritePath[] = "/QuarnBox/Picture/Write";

std::string FormField(const char* name, const std::string& value) {
  return std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name +
         "\"\r\n\r\n" + value + "\r\n";
}

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

bool CPicProtoClient::Init(const std::shared_ptr<SStorageServerConfig>& conf,
                           std::shared_ptr<const CallControl> control) {
  if (!conf) {
    return false;
  }
  conf_ = conf;
  const std::string host =
      conf_->ip.find(':') != std::string::npos ? "[" + conf_->ip + "]" : conf_->ip;
  const std::string scheme = conf_->use_https ? "https://" : "http://";
  upload_base_ = Base::str_fmt("%s%s:%u", scheme.c_str(), host.c_str(), conf_->upload_port);
  download_base_ = Base::str_fmt("%s%s:%u", scheme.c_str(), host.c_str(), conf_->download_port);
  signer_.scheme = Signing::kPicture;
  signer_.host = Base::str_fmt("%s:%u", host.c_str(), conf_->upload_port);
  signer_.ak = conf_->ak;
  signer_.sk = conf_->sk;
  signer_.call = CCall(std::move(control));
  return true;
}

bool CPicProtoClient::GetBestNode(std::string& token, std::string& location) {
  const std::string path = "/QuarnBox/BestNode";
  serial_id_ = Base::CreateGuid();
  SRequestFrame frame;
  frame.method = "GET";
  frame.resource = path + Base::str_fmt("?SerialID=%s&PoolID=%s&Replication=0", serial_id_.c_str(),
                                        conf_->pool_name.c_str());
  frame.url = upload_base_ + frame.resource;
  frame.content_type = "text/json";
  // The answer is a small document: a longer one is neither kept nor accepted.
  frame.max_response_body = proto::kMaxDocumentBytes;
  ORCA_CS_FUNCTION_NAME(function);
  const SRequestTexts texts =
      RequestTexts(function.c_str(), "get best node failed", "get best node", "PicClient");
  Net::CHttpClientResponse response;
  proto::CRapidJsonProto document;
  if (!Exchange(signer_, frame, texts, response, &document).ok()) {
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
  SRequestFrame frame;
  frame.method = method;
  frame.url = base + path;
  frame.resource = path;
  if (!body.empty()) {
    frame.body = body.data();
    frame.body_size = static_cast<uint32_t>(body.size());
  }
  frame.max_response_body = kMaxMemoryDownloadSize;
  frame.storage = storage;
  ORCA_CS_FUNCTION_NAME(function);
  const SRequestTexts texts{
      function.c_str(), "PicClient", "send picture msg failed, url:" + base + path, "", "", "",
      "picture msg"};
  return SendRequest(signer_, frame, texts, response).ok();
}

bool CPicProtoClient::DownloadPic(char** buffer, uint32_t& length, const std::string& path) {
  ORCA_CS_FUNCTION_NAME(function);
  CMemoryBody body;
  const SendGet send = [&](const std::string& base, const std::string& target,
                           Net::CHttpClientResponse& answer) {
    return SendObjectMsg(answer, base, target, "GET", "", body.Storage())
               ? Status()
               : Status(ErrorCode::kTransport, "");
  };
  const ClassifyAnswer any_status = [](int status, const std::string&) {
    return Status(ErrorCode::kBadAnswer, Base::str_fmt("status code[%d]", status));
  };
  Net::CHttpClientResponse response;
  if (!FetchFollowingRedirect(RedirectCaller::kPictureDownload, conf_->use_https,
                              SDownloadTexts{function.c_str(), "PicClient", "download picture"},
                              download_base_, path, send, any_status, response)
           .ok()) {
    return false;
  }
  const std::string problem = CMemoryBody::Problem(response);
  if (!problem.empty()) {
    LOG_ERROR("[%s][PicClient]download picture failed, %s[%s(%d)]", problem.c_str());
    return false;
  }
  char* out = body.Release(response, length);
  if (out == nullptr) {
    LOG_ERROR("[%s][PicClient]download picture failed, no memory for %u bytes[%s(%d)]",
              static_cast<uint32_t>(response.GetContentLength()));
    return false;
  }
  *buffer = out;
  return true;
}

bool CPicProtoClient::UploadPic(std::string& picture_url, const std::string& location,
                                const std::string& token, const char* data, uint32_t length) {
  const SPictureForm form{serial_id_, conf_->pool_name, Base::UnixTimeNow(), token};
  const std::string body = MakePictureFormBody(form, data, length);
  SRequestFrame frame;
  frame.method = "POST";
  frame.url = location + kWritePath;
  frame.resource = kWritePath;
  frame.content_type = std::string("multipart/form-data; boundary=") + kBoundary;
  frame.signed_type = "multipart/form-data";
  frame.body = body.data();
  frame.body_size = static_cast<uint32_t>(body.size());
  frame.repeat = Repeat::kNever;  // the token is good for one picture
  // The answer is a small document: a longer one is neither kept nor accepted.
  frame.max_response_body = proto::kMaxDocumentBytes;
  ORCA_CS_FUNCTION_NAME(function);
  SRequestTexts texts =
      RequestTexts(function.c_str(), "upload picture failed", "upload picture", "PicClient");
  texts.document = "json";
  Net::CHttpClientResponse response;
  if (!Exchange(signer_, frame, texts, response).ok()) {
    return false;
  }
  // The success record comes before the answer is read.
  LOG_SUCCESS("[%s][PicClient]upload picture success, url[%s][%s(%d)]", kWritePath);
  proto::CRapidJsonProto document;
  if (!document.set_str(response.GetBody())) {
    LOG_ERROR("[%s][PicClient]upload picture failed, invalid json[%s][%s(%d)]",
              QuoteBody(response.GetBody()).c_str());
    return false;
  }
  picture_url = document.get_v("/PictureUrl", "");
  return true;
}

}  // namespace CloudStorage
}  // namespace Orca
