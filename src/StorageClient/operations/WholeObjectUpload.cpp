#include "operations/WholeObjectUpload.h"

#include "protocol/ObjectProtoClient.h"
#include "wire/Constants.h"
#include "wire/Logging.h"
#include "wire/RequestText.h"

namespace Orca {
namespace CloudStorage {

bool UploadWholeObject(const std::shared_ptr<ObjectImpl>& conf, const std::string& object_key,
                       const char* data, uint32_t size, std::string& url, const char* function) {
  if (size > kMaxMemoryUploadSize) {
    ORCA_CS_LOG_AS(veklog::kLevelError, function,
                   "[%s]upload file failed, size[%d] exceed.[%s(%d)]", size);
    if (conf) {
      conf->Record(Status(ErrorCode::kInvalidArgument, "file size exceed 32M."));
    }
    return false;
  }
  if (!conf) {
    ORCA_CS_LOG_AS(veklog::kLevelError, function,
                   "[%s]upload file failed, ptr_conf_ is null.[%s(%d)]");
    return false;
  }
  Status key = CheckTargetText("object key", object_key);
  if (!key.ok()) {
    ORCA_CS_LOG_AS(veklog::kLevelError, function, "[%s]upload file failed, %s[%s(%d)]",
                   key.message().c_str());
    return conf->Record(key);
  }
  CObjectProtoClient proto_client;
  proto_client.Init(conf);
  std::string location;
  if (!conf->Succeeded(proto_client.GetBestNode(location, object_key))) {
    ORCA_CS_LOG_AS(veklog::kLevelError, function,
                   "[%s]upload file failed, object key[%s] get best node failed.[%s(%d)]",
                   object_key.c_str());
    return false;
  }
  if (!conf->Succeeded(proto_client.UploadObject(url, location, object_key, data, size))) {
    ORCA_CS_LOG_AS(veklog::kLevelError, function,
                   "[%s]upload file failed, object key[%s] upload failed.[%s(%d)]",
                   object_key.c_str());
    return false;
  }
  return true;
}

}  // namespace CloudStorage
}  // namespace Orca
