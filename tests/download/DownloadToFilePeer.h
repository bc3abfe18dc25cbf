// Reaches the streaming state of an object protocol client, for the
// streamed receiver's unit test and the download-answer fuzzer.
#ifndef ORCA_TEST_DOWNLOAD_DOWNLOADTOFILEPEER_H_
#define ORCA_TEST_DOWNLOAD_DOWNLOADTOFILEPEER_H_

#include <cstdint>
#include <string>

#include "StorageClient/protocol/ObjectProtoClient.h"

namespace Orca {
namespace CloudStorage {

class CDownloadToFilePeer {
 public:
  explicit CDownloadToFilePeer(CObjectProtoClient& client) : client_(client) {}
  void SetLocalPath(const std::string& path) { client_.local_path_ = path; }
  int32_t RecvStatus() const { return client_.recv_status_; }
  bool JudgeStream(bool streamed) { return client_.JudgeStream(streamed, "/p1/k.bin"); }

 private:
  CObjectProtoClient& client_;
};

}  // namespace CloudStorage
}  // namespace Orca

#endif  // ORCA_TEST_DOWNLOAD_DOWNLOADTOFILEPEER_H_
