// CPictureClient: configuration, picture upload and download.
#include "OrcaCloudStorage/StorageClient.h"
#include "protocol/CallControl.h"
#include "protocol/PictureProtoClient.h"
#include "wire/Constants.h"
#include "wire/Logging.h"
#include "wire/RequestText.h"

namespace Orca {
namespace CloudStorage {

CPictureClient::CPictureClient(const SStorageServerConfig& config)
    : ptr_conf_(std::make_shared<SStorageServerConfig>(config)),
      control_(std::make_shared<CallControl>()) {}

CPictureClient::CPictureClient(const CPictureClient& other) = default;

CPictureClient& CPictureClient::operator=(const CPictureClient& other) = default;

CPictureClient::~CPictureClient() = default;

bool CPictureClient::Init() {
  if (!ptr_conf_) {
    LOG_ERROR("[%s]config ptr is null.[%s(%d)]");
    return false;
  }
  const SStorageServerConfig& config = *ptr_conf_;
  if (config.ak.empty() || config.sk.empty() || config.ip.empty() || config.pool_name.empty()) {
    LOG_ERROR("[%s]sk[%s] , ak[%s], ip[%s], pool name[%s] is invalid.[%s(%d)]",
              MaskSecret(config.sk).c_str(), config.ak.c_str(), config.ip.c_str(),
              config.pool_name.c_str());
    return false;
  }
  if (config.download_port == 0 || config.upload_port == 0) {
    LOG_ERROR("[%s]upload port[%d] , download port[%d] is invalid.[%s(%d)]", config.upload_port,
              config.download_port);
    return false;
  }
  return true;
}

bool CPictureClient::Uninit() { return true; }

bool CPictureClient::UploadPicture(std::string& url, const char* data, uint32_t length) {
  if (length > kMaxMemoryUploadSize) {
    LOG_ERROR("[%s]upload picture failed, size[%d] exceed.[%s(%d)]", length);
    return false;
  }
  CPicProtoClient proto_client;
  proto_client.Init(ptr_conf_, control_);
  std::string token;
  std::string location;
  if (!proto_client.GetBestNode(token, location)) {
    LOG_ERROR("[%s]upload picture failed, get best node failed.[%s(%d)]");
    return false;
  }
  if (!proto_client.UploadPic(url, location, token, data, length)) {
    LOG_ERROR("[%s]upload picture failed, location[%s] upload failed.[%s(%d)]", location.c_str());
    return false;
  }
  return true;
}

bool CPictureClient::DownloadPicture(char** buffer, uint32_t& length, const std::string& url) {
  if (!ptr_conf_) {
    LOG_ERROR("[%s]download pic failed, ptr_conf_ is null, url[%s].[%s(%d)]", url.c_str());
    return false;
  }
  Status refused = CheckTargetText("picture url", url);
  if (!refused.ok()) {
    LOG_ERROR("[%s]download pic failed, %s[%s(%d)]", refused.message().c_str());
    return false;
  }
  CPicProtoClient proto_client;
  proto_client.Init(ptr_conf_, control_);
  if (!proto_client.DownloadPic(buffer, length, url)) {
    LOG_ERROR("[%s]download file failed, url[%s].[%s(%d)]", url.c_str());
    return false;
  }
  return true;
}

bool CPictureClient::RemoveFileByUrl(const std::string& /*url*/) { return true; }

void CPictureClient::SetRetryPolicy(uint32_t attempts, uint32_t base_delay_ms) {
  control_->SetRetryPolicy(attempts, base_delay_ms);
}

void CPictureClient::Cancel() { control_->Cancel(); }

}  // namespace CloudStorage
}  // namespace Orca
