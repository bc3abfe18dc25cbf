// CObjectClient: lifecycle, error state and the single-request operations.
#include "Logging.h"
#include "ObjectImpl.h"
#include "OrcaCloudStorage/StorageClient.h"
#include "PartTaskRegistry.h"
#include "Signature.h"

namespace Orca {
namespace CloudStorage {

CObjectClient::CObjectClient(const SStorageServerConfig& config)
    : ptr_conf_(std::make_shared<ObjectImpl>(config)) {}

CObjectClient::CObjectClient(const CObjectClient& other) = default;

CObjectClient& CObjectClient::operator=(const CObjectClient& other) = default;

CObjectClient::~CObjectClient() = default;

bool CObjectClient::Init() {
  if (!ptr_conf_) {
    LOG_ERROR("[%s]config ptr is null.[%s(%d)]");
    return false;
  }
  const SStorageServerConfig& config = ptr_conf_->config;
  if (config.ak.empty() || config.sk.empty() || config.ip.empty() || config.pool_name.empty()) {
    LOG_ERROR("[%s]sk[%s] , ak[%s], ip[%s], pool name[%s] is invalid.[%s(%d)]",
              MaskSecret(config.sk).c_str(), config.ak.c_str(), config.ip.c_str(),
              config.pool_name.c_str());
    ptr_conf_->RecordError(2, "ak/sk empty or ip & pool name empty.");
    return false;
  }
  if (config.download_port == 0 || config.upload_port == 0) {
    LOG_ERROR("[%s]upload port[%d] , download port[%d] is invalid.[%s(%d)]", config.upload_port,
              config.download_port);
    ptr_conf_->RecordError(2, "upload port or download port is 0.");
    return false;
  }
  CPartTaskRegistry::GetInstance();
  return true;
}

bool CObjectClient::Uninit() {
  CPartTaskRegistry::GetInstance();
  return true;
}

void CObjectClient::GetLastError(int32_t& code, std::string& msg) {
  std::lock_guard<std::mutex> lock(ptr_conf_->error_mutex);
  code = ptr_conf_->last_error_code;
  msg = ptr_conf_->last_error_msg;
}

void CObjectClient::GetLastError(int32_t& code, int32_t& subcode, std::string& msg) {
  GetLastError(code, msg);
  std::lock_guard<std::mutex> lock(ptr_conf_->error_mutex);
  subcode = ptr_conf_->last_error_subcode;
}

void CObjectClient::SetTimeoutConfig(uint32_t receive_timeout, uint32_t send_timeout) {
  ptr_conf_->receive_timeout.store(receive_timeout, std::memory_order_relaxed);
  ptr_conf_->send_timeout.store(send_timeout, std::memory_order_relaxed);
}

std::string CObjectClient::GetAuthString(const std::string& method, const std::string& content_md5,
                                         const std::string& content_type, const std::string& date,
                                         const std::string& headers, std::string resource,
                                         const std::string& sk) {
  return MakeSignature(method, content_md5, content_type, date, headers, std::move(resource), sk);
}

}  // namespace CloudStorage
}  // namespace Orca
