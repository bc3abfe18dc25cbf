// CObjectProtoClient: set-up, best node, object upload and removal.
#include "protocol/ObjectProtoClient.h"

#include <memory>
#include <utility>

#include "base/StrFmt.h"
#include "proto/Proto.h"
#include "wire/Logging.h"
#include "wire/RequestText.h"

namespace Orca {
namespace CloudStorage {
namespace {

constexpr char kBinaryContentType[] = "binary/octet-stream";

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
  signer_.call = CCall(conf_->control);
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

Status CObjectProtoClient::GetBestNode(std::string& location, const std::string& object_key) {
  SRequestFrame frame;
  frame.method = "GET";
  frame.resource = ResourcePath(object_key) + "?bestnode";
  frame.url = upload_base_ + frame.resource;
  frame.content_type = kXmlContentType;
  // The answer is a small document: a longer one is neither kept nor accepted.
  frame.max_response_body = proto::kMaxDocumentBytes;
  ORCA_CS_FUNCTION_NAME(function);
  const SRequestTexts texts =
      RequestTexts(function.c_str(), "get best node failed", "get best node");
  // The node goes into the authority of the upload URLs.
  Status status = ExchangeForText(signer_, frame, texts, "/BestNodeInfo/Location",
                                  &FindAuthorityUnsafeByte, "location", location);
  if (!status.ok()) {
    return status;
  }
  LOG_SUCCESS("[%s][Client]get best node success, location[%s][%s(%d)]", location.c_str());
  return Status();
}

Status CObjectProtoClient::UploadObject(std::string& object_url, const std::string& location,
                                        const std::string& object_key, const char* data,
                                        uint32_t size) {
  const SRequestFrame frame = DataNodeFrame("PUT", location, ResourcePath(object_key), data, size);
  ORCA_CS_FUNCTION_NAME(function);
  SRequestTexts texts = RequestTexts(function.c_str(), "upload object failed", "upload object");
  texts.no_space = true;
  Net::CHttpClientResponse response;
  Status status = Exchange(signer_, frame, texts, response);
  if (!status.ok()) {
    return status;
  }
  LOG_SUCCESS("[%s][Client]upload object success, url[%s][%s(%d)]", frame.resource.c_str());
  object_url = frame.resource;
  return Status();
}

Status CObjectProtoClient::Remove(const std::string& object_url, const std::string& query,
                                  const char* function) {
  SRequestFrame frame;
  frame.method = "DELETE";
  frame.done_on_repeat = 404;
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
  Status status = Exchange(signer_, frame, texts, response);
  if (!status.ok()) {
    return status;
  }
  ORCA_CS_LOG_AS(veklog::kLevelSuccess, function,
                 "[%s][Client]remove object success, url[%s][%s(%d)]", object_url.c_str());
  return Status();
}

Status CObjectProtoClient::RemoveFile(const std::string& object_url) {
  ORCA_CS_FUNCTION_NAME(function);
  return Remove(object_url, "", function.c_str());
}

Status CObjectProtoClient::RemoveObjectFile(const std::string& object_url) {
  ORCA_CS_FUNCTION_NAME(function);
  return Remove(object_url, "?deletefile", function.c_str());
}

}  // namespace CloudStorage
}  // namespace Orca
