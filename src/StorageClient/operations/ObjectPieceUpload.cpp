// CObjectClient's piece-wise uploads: one call per piece. The first piece
// opens a multipart upload and a piece task in the registry (keyed by object
// key), each later piece uploads the next part, and the last one completes
// the upload. The three members differ only in how the first piece and the
// key are chosen; UploadPiece does the common steps.
#include <memory>
#include <string>

#include "OrcaCloudStorage/StorageClient.h"
#include "base/Guid.h"
#include "operations/PartTaskRegistry.h"
#include "operations/WholeObjectUpload.h"
#include "protocol/ObjectImpl.h"
#include "protocol/ObjectProtoClient.h"
#include "wire/Logging.h"
#include "wire/RequestText.h"

namespace Orca {
namespace CloudStorage {
namespace {

// One piece to upload. Log records are written on behalf of `function`.
struct SPieceCall {
  const char* function;
  std::string object_key;
  bool first;
  bool last;
  bool trace;  // log the key at level 2 once the piece is counted
};

// The key of a later piece: the text after the last "/" of its URL.
bool KeyFromUrl(const std::string& url, const char* function, std::string& object_key) {
  const size_t slash = url.rfind('/');
  if (slash == std::string::npos) {
    ORCA_CS_LOG_AS(veklog::kLevelError, function,
                   "[%s]upload piece failed, invalid url[%s].[%s(%d)]", url.c_str());
    return false;
  }
  object_key = url.substr(slash + 1);
  return true;
}

// The key of an unnamed piece: a new one for a first piece (empty URL).
bool UnnamedPieceKey(const std::string& url, const char* function, std::string& object_key) {
  if (url.empty()) {
    object_key = Base::CreateGuid() + ".pfile";
    return true;
  }
  return KeyFromUrl(url, function, object_key);
}

// A key goes on the request line as it is: one with a byte that cannot stand
// there is refused (code 2) before anything is sent.
bool KeyIsSafe(ObjectImpl& conf, const SPieceCall& call) {
  Status status = CheckTargetText("object key", call.object_key);
  if (!status.ok()) {
    ORCA_CS_LOG_AS(veklog::kLevelError, call.function, "[%s]upload piece failed, %s[%s(%d)]",
                   status.message().c_str());
    return conf.Record(status);
  }
  return true;
}

// Opens a multipart upload for a first piece: task.location and
// task.task_id are set.
bool OpenPieceTask(CObjectProtoClient& proto_client, const char* function, SPieceTask& task) {
  if (!proto_client.conf()->Succeeded(proto_client.GetBestNode(task.location, task.object_key))) {
    ORCA_CS_LOG_AS(veklog::kLevelError, function,
                   "[%s]upload first piece failed, get best node failed.[%s(%d)]");
    return false;
  }
  if (!proto_client.conf()->Succeeded(proto_client.CreatePartTask(task.task_id, task.object_key))) {
    ORCA_CS_LOG_AS(veklog::kLevelError, function,
                   "[%s]upload first piece failed, create part task failed.[%s(%d)]");
    return false;
  }
  return true;
}

// Completes the piece task with every recorded piece, the last included.
// A failed completion leaves the task open and completing, for a retry.
bool CompletePieceTask(CObjectProtoClient& proto_client, const SPieceCall& call,
                       const SPieceTask& task) {
  CPartTaskRegistry& registry = CPartTaskRegistry::GetInstance();
  PartList parts;
  if (!registry.GetAllPieces(call.object_key, parts)) {
    ORCA_CS_LOG_AS(veklog::kLevelError, call.function,
                   "[%s]upload piece failed, get all pieces failed, url[%s].[%s(%d)]",
                   call.object_key.c_str());
    return false;
  }
  if (!proto_client.conf()->Succeeded(
          proto_client.FinishPartTask(task.task_id, call.object_key, parts))) {
    ORCA_CS_LOG_AS(veklog::kLevelError, call.function,
                   "[%s]upload piece failed, url[%s], task id[%s].[%s(%d)]",
                   call.object_key.c_str(), task.task_id.c_str());
    return false;
  }
  registry.RemovePieceTask(call.object_key);
  return true;
}

// Where a piece goes: its part number, and whether its bytes go up. A last
// piece sent again after a failed completion takes the part number of the
// recorded last piece; sent empty, it only retries the completion.
struct SPiecePlan {
  uint32_t part_number = 1;
  bool upload = true;
};

// Finds the piece task of a later piece and plans where the piece goes.
bool PlanLaterPiece(const SPieceCall& call, uint32_t length, const std::string& url,
                    SPieceTask& task, SPiecePlan& plan) {
  uint32_t highest = 0;
  uint32_t last_part = 0;
  if (!CPartTaskRegistry::GetInstance().FindPieceTask(call.object_key, task, highest, last_part)) {
    ORCA_CS_LOG_AS(veklog::kLevelError, call.function,
                   "[%s]upload piece failed, find task failed, url[%s].[%s(%d)]", url.c_str());
    return false;
  }
  const bool completion_retry = call.last && last_part != 0;
  plan.part_number = completion_retry ? last_part : highest + 1;
  plan.upload = !completion_retry || length > 0;
  return true;
}

// Records the piece in its task, the last one as such, so that a failed
// completion can be retried with all pieces.
bool RecordPiece(const SPieceCall& call, uint32_t part_number, uint32_t length) {
  CPartTaskRegistry& registry = CPartTaskRegistry::GetInstance();
  const bool recorded = call.last ? registry.SetLastPiece(call.object_key, part_number, length)
                                  : registry.AddPiece(call.object_key, part_number, length);
  if (!recorded) {
    ORCA_CS_LOG_AS(veklog::kLevelError, call.function,
                   "[%s]upload piece failed, add piece failed, url[%s].[%s(%d)]",
                   call.object_key.c_str());
    return false;
  }
  if (call.trace) {
    ORCA_CS_LOG_AS(veklog::kLevelTrace, call.function, "[%s][%s].[%s(%d)]",
                   call.object_key.c_str());
  }
  return true;
}

// Uploads one piece as the next part of its piece task (opening the task for
// a first piece, completing it for the last). A first piece sets `url`.
bool UploadPiece(const std::shared_ptr<ObjectImpl>& conf, const SPieceCall& call, const char* data,
                 uint32_t length, std::string& url) {
  CObjectProtoClient proto_client;
  if (!proto_client.Init(conf) || !KeyIsSafe(*conf, call)) {
    return false;
  }
  SPieceTask task;
  task.object_key = call.object_key;
  SPiecePlan plan;
  if (call.first ? !OpenPieceTask(proto_client, call.function, task)
                 : !PlanLaterPiece(call, length, url, task, plan)) {
    return false;
  }
  if (plan.upload &&
      !proto_client.conf()->Succeeded(proto_client.UploadPartObject(
          call.object_key, task.location, plan.part_number, task.task_id, data, length))) {
    ORCA_CS_LOG_AS(veklog::kLevelError, call.function,
                   "[%s]upload piece failed, url[%s] partnum[%d], dst location[%s].[%s(%d)]",
                   call.object_key.c_str(), plan.part_number, task.location.c_str());
    return false;
  }
  if (call.first && !CPartTaskRegistry::GetInstance().AddPieceTask(task)) {
    ORCA_CS_LOG_AS(veklog::kLevelError, call.function,
                   "[%s]upload piece failed, add task failed, url[%s].[%s(%d)]",
                   call.object_key.c_str());
    return false;
  }
  // A completion retry without data keeps the recorded last piece.
  if ((plan.upload && !RecordPiece(call, plan.part_number, length)) ||
      (call.last && !CompletePieceTask(proto_client, call, task))) {
    return false;
  }
  if (call.first) {
    url = "/" + conf->config.pool_name + "/" + call.object_key;
  }
  return true;
}

}  // namespace

bool CObjectClient::UploadFileByPieces(std::string& url, const char* data, uint32_t length,
                                       bool last) {
  ORCA_CS_FUNCTION_NAME(function);
  const bool first = url.empty();
  if (first && last) {
    return UploadFile(url, data, length);  // a single piece is stored whole
  }
  std::string object_key;
  return UnnamedPieceKey(url, function.c_str(), object_key) &&
         UploadPiece(ptr_conf_, SPieceCall{function.c_str(), object_key, first, last, false}, data,
                     length, url);
}

bool CObjectClient::UploadFileByPiecesAloneStorage(std::string& url, const char* data,
                                                   uint32_t length, bool last) {
  ORCA_CS_FUNCTION_NAME(function);
  const bool first = url.empty();
  std::string object_key;
  return UnnamedPieceKey(url, function.c_str(), object_key) &&
         UploadPiece(ptr_conf_, SPieceCall{function.c_str(), object_key, first, last, false}, data,
                     length, url);
}

bool CObjectClient::UploadFileByPiecesAndFileName(std::string& url, const char* data,
                                                  uint32_t length, bool last, bool first) {
  ORCA_CS_FUNCTION_NAME(function);
  if (url.empty()) {
    LOG_ERROR("[%s]out_url is empty![%s(%d)]");
    return false;
  }
  std::string object_key = url;  // a first piece names the object itself
  if (!first && !KeyFromUrl(url, function.c_str(), object_key)) {
    return false;
  }
  LOG_TRACE("[%s][%s].[%s(%d)]", object_key.c_str());
  if (!(first && last)) {
    return UploadPiece(ptr_conf_, SPieceCall{function.c_str(), object_key, first, last, true}, data,
                       length, url);
  }
  // A single piece: stored whole under the caller's name.
  return UploadWholeObject(ptr_conf_, object_key, data, length, url, function.c_str());
}

}  // namespace CloudStorage
}  // namespace Orca
