// CPicProtoClient speaks the picture gateway's protocol: best node (JSON),
// picture upload as multipart/form-data, picture download with one
// redirect. One instance serves one public call; the upload must run on the
// instance whose GetBestNode made the serial id it sends back.
#ifndef ORCA_CS_PICTUREPROTOCLIENT_H_
#define ORCA_CS_PICTUREPROTOCLIENT_H_

#include <cstdint>
#include <memory>
#include <string>

#include "OrcaCloudStorage/StorageClient.h"
#include "net/HttpClient.h"
#include "protocol/RequestPipeline.h"

namespace Orca {
namespace CloudStorage {

// The fields of a picture upload form, in the order they are sent.
struct SPictureForm {
  std::string serial_id;
  std::string pool_id;
  int64_t timestamp_seconds = 0;
  std::string token;
};

// The multipart/form-data body of a picture upload, byte for byte.
std::string MakePictureFormBody(const SPictureForm& form, const char* picture, uint32_t length);

class CPicProtoClient {
 public:
  CPicProtoClient() = default;
  CPicProtoClient(const CPicProtoClient&) = delete;
  CPicProtoClient& operator=(const CPicProtoClient&) = delete;

  // Derives the base URLs and the Host value (IPv6 literals in brackets).
  // False only for an empty pointer.
  // Requests belong to a call of the client that `control` serves.
  bool Init(const std::shared_ptr<SStorageServerConfig>& conf,
            std::shared_ptr<const CallControl> control);

  // Asks the gateway which node takes a picture: `location` receives
  // scheme + "GatewayIP:GatewayPort", `token` the Token to send with it.
  bool GetBestNode(std::string& token, std::string& location);

  // Sends one signed request to `base` + `path`. True when an answer
  // arrived, whatever its status. A 200 body goes to `storage` when given.
  bool SendObjectMsg(Net::CHttpClientResponse& response, const std::string& base,
                     const std::string& path, const std::string& method, const std::string& body,
                     const Net::CHttpClientRequest::BodyStorage& storage = {});

  // Fetches the picture at `path` into a new buffer of length + 1 bytes
  // owned by the caller, following one redirect (statuses 300 to 309).
  bool DownloadPic(char** buffer, uint32_t& length, const std::string& path);

  // Uploads a picture to the node `location` found by GetBestNode;
  // `picture_url` receives the gateway's PictureUrl.
  bool UploadPic(std::string& picture_url, const std::string& location, const std::string& token,
                 const char* data, uint32_t length);

 private:
  std::shared_ptr<SStorageServerConfig> conf_;
  std::string serial_id_;
  std::string upload_base_;
  std::string download_base_;
  SSigner signer_;  // the Host header and the keys
};

}  // namespace CloudStorage
}  // namespace Orca

#endif  // ORCA_CS_PICTUREPROTOCLIENT_H_
