// CObjectClient: lifecycle, error state and the single-request operations;
// and the host's hook into the library's log records.
#include <functional>
#include <memory>

#include "OrcaCloudStorage/StorageClient.h"
#include "base/Guid.h"
#include "base/StrFmt.h"
#include "net/HttpClient.h"
#include "operations/DownloadToFile.h"
#include "operations/PartTaskRegistry.h"
#include "operations/WholeObjectUpload.h"
#include "proto/Proto.h"
#include "protocol/ObjectImpl.h"
#include "protocol/ObjectProtoClient.h"
#include "protocol/RequestPipeline.h"
#include "wire/Logging.h"
#include "wire/RequestText.h"
#include "wire/Signature.h"

namespace Orca {
namespace CloudStorage {
namespace {

// Runs `step` on a protocol client made for the call, once the object URL
// is known to stand in a request line (else code 2, nothing sent); a failure
// is recorded. True on success.
bool RunForUrl(const std::shared_ptr<ObjectImpl>& conf, const std::string& url,
               const std::function<Status(CObjectProtoClient&)>& step) {
  CObjectProtoClient proto_client;
  proto_client.Init(conf);
  Status status = CheckTargetText("object url", url);
  if (status.ok()) {
    status = step(proto_client);
  }
  return conf->Succeeded(status);
}

// The two removals: `remove` for `url`, logged on behalf of `function`.
bool RemoveByUrl(const std::shared_ptr<ObjectImpl>& conf, const std::string& url,
                 Status (CObjectProtoClient::*remove)(const std::string&), const char* function) {
  if (!conf) {
    ORCA_CS_LOG_AS(veklog::kLevelError, function,
                   "[%s]Remove file failed, ptr_conf_ is null, url[%s].[%s(%d)]", url.c_str());
    return false;
  }
  if (!RunForUrl(conf, url,
                 [&](CObjectProtoClient& proto_client) { return (proto_client.*remove)(url); })) {
    ORCA_CS_LOG_AS(veklog::kLevelError, function, "[%s]Remove file failed, url[%s].[%s(%d)]",
                   url.c_str());
    return false;
  }
  return true;
}

}  // namespace

void SetLogSink(LogSink sink, void* context) { veklog::SetSink(sink, context); }

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
    ptr_conf_->Record(Status(ErrorCode::kInvalidArgument, "ak/sk empty or ip & pool name empty."));
    return false;
  }
  if (config.download_port == 0 || config.upload_port == 0) {
    LOG_ERROR("[%s]upload port[%d] , download port[%d] is invalid.[%s(%d)]", config.upload_port,
              config.download_port);
    ptr_conf_->Record(Status(ErrorCode::kInvalidArgument, "upload port or download port is 0."));
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

bool CObjectClient::SetTransferConcurrency(uint32_t count) {
  if (count == 0 || count > kMaxTransferConcurrency) {
    LOG_ERROR("[%s]transfer concurrency[%u] is invalid.[%s(%d)]", count);
    return ptr_conf_->Record(Status(ErrorCode::kInvalidArgument,
                                    Base::str_fmt("transfer concurrency[%u] out of range[1-%u].",
                                                  count, kMaxTransferConcurrency)));
  }
  ptr_conf_->transfer_concurrency.store(count, std::memory_order_relaxed);
  return true;
}

void CObjectClient::SetRetryPolicy(uint32_t attempts, uint32_t base_delay_ms) {
  ptr_conf_->control->SetRetryPolicy(attempts, base_delay_ms);
}

void CObjectClient::Cancel() { ptr_conf_->control->Cancel(); }

std::string CObjectClient::GetAuthString(const std::string& method, const std::string& content_md5,
                                         const std::string& content_type, const std::string& date,
                                         const std::string& headers, const std::string& resource,
                                         const std::string& sk) {
  return MakeSignature(method, content_md5, content_type, date, headers, resource, sk);
}

bool CObjectClient::UploadFile(std::string& url, const char* data, uint32_t size) {
  ORCA_CS_FUNCTION_NAME(function);
  return UploadWholeObject(ptr_conf_, Base::CreateGuid() + ".pfile", data, size, url,
                           function.c_str());
}

bool CObjectClient::DownloadFile(const std::string& url, const std::string& local_path) {
  if (!ptr_conf_) {
    LOG_ERROR("[%s]download file failed, ptr_conf_ is null, url[%s].[%s(%d)]", url.c_str());
    return false;
  }
  const auto download = [&](CObjectProtoClient& proto_client) {
    return CDownloadToFile(ptr_conf_, proto_client, local_path).Run(url);
  };
  if (!RunForUrl(ptr_conf_, url, download)) {
    LOG_ERROR("[%s]download file failed, url[%s].[%s(%d)]", url.c_str());
    return false;
  }
  return true;
}

bool CObjectClient::DownloadFile(char** buffer, uint32_t& length, const std::string& url) {
  if (!ptr_conf_) {
    LOG_ERROR("[%s]download file failed, ptr_conf_ is null, url[%s].[%s(%d)]", url.c_str());
    return false;
  }
  if (!RunForUrl(ptr_conf_, url, [&](CObjectProtoClient& proto_client) {
        return proto_client.DownloadObject(buffer, length, std::string(), url);
      })) {
    LOG_ERROR("[%s]download file failed, url[%s].[%s(%d)]", url.c_str());
    return false;
  }
  return true;
}

bool CObjectClient::DownloadFile(char** buffer, uint32_t& length, std::string& range,
                                 const std::string& url) {
  if (!ptr_conf_) {
    LOG_ERROR("[%s]download file failed, ptr_conf_ is null, url[%s], range[%s].[%s(%d)]",
              url.c_str(), range.c_str());
    return false;
  }
  // The range goes into a header field: a CR or LF would add fields of its own.
  const size_t unsafe = FindNonPrintableByte(range);
  if (unsafe != std::string::npos) {
    const std::string problem = DescribeUnsafeByte("range", range, unsafe);
    LOG_ERROR("[%s]download file failed, url[%s], %s.[%s(%d)]", url.c_str(), problem.c_str());
    ptr_conf_->Record(
        Status(ErrorCode::kInvalidArgument, problem + ", which cannot stand in a header field."));
    return false;
  }
  if (!RunForUrl(ptr_conf_, url, [&](CObjectProtoClient& proto_client) {
        return proto_client.DownloadObject(buffer, length, range, url);
      })) {
    LOG_ERROR("[%s]download file failed, url[%s], range[%s].[%s(%d)]", url.c_str(), range.c_str());
    return false;
  }
  return true;
}

bool CObjectClient::RemoveFileByUrl(const std::string& url) {
  ORCA_CS_FUNCTION_NAME(function);
  return RemoveByUrl(ptr_conf_, url, &CObjectProtoClient::RemoveFile, function.c_str());
}

bool CObjectClient::RemoveObjectFileByUrl(const std::string& url) {
  ORCA_CS_FUNCTION_NAME(function);
  return RemoveByUrl(ptr_conf_, url, &CObjectProtoClient::RemoveObjectFile, function.c_str());
}

bool CObjectClient::GetStorageVersion(std::string& version, SStorageServerInfo info) {
  const std::string address = Base::str_fmt("%s:%u", info.ip.c_str(), info.port);
  // Plain HTTP, signed with the keys of `info`; the root's query signs alone.
  const SSigner signer{Signing::kObject, address,        info.ak,
                       info.sk,          &GetAuthString, CCall(ptr_conf_->control)};
  SRequestFrame frame;
  frame.method = "GET";
  frame.url = "http://" + address + "/?version";
  frame.resource = "?version";
  frame.content_type = kXmlContentType;
  // The answer is a small document: a longer one is neither kept nor accepted.
  frame.max_response_body = proto::kMaxDocumentBytes;
  frame.trace_level = veklog::kLevelSuccess;
  ORCA_CS_FUNCTION_NAME(function);
  const SRequestTexts texts =
      RequestTexts(function.c_str(), "get storage version failed", "get storage version");
  Net::CHttpClientResponse response;
  proto::CXmlProto document;
  if (!ptr_conf_->Succeeded(Exchange(signer, frame, texts, response, &document))) {
    return false;
  }
  version = document.get_v("/CloudVersion/version", "");
  LOG_SUCCESS("[%s][Client]get storage version success, version[%s][%s(%d)]", version.c_str());
  return true;
}

}  // namespace CloudStorage
}  // namespace Orca
