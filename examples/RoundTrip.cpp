// A host program on the installed library: prints the library's version,
// stores a buffer as an object, reads it back, and removes it.
//
//   round_trip ADDRESS UPLOAD_PORT DOWNLOAD_PORT POOL
//
// The keys come from OCS_ACCESS_KEY and OCS_SECRET_KEY.
#include <OrcaCloudStorage/StorageClient.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using Orca::CloudStorage::CObjectClient;
using Orca::CloudStorage::SStorageServerConfig;

namespace {

int Fail(CObjectClient& client, const char* operation) {
  int32_t code = 0;
  std::string message;
  client.GetLastError(code, message);
  std::fprintf(stderr, "%s failed: error %d: %s\n", operation, code, message.c_str());
  return 1;
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? "" : value;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s ADDRESS UPLOAD_PORT DOWNLOAD_PORT POOL\n", argv[0]);
    return 2;
  }
  std::printf("libOrcaCloudStorage %s (header %s)\n", Orca::CloudStorage::GetLibraryVersion(),
              ORCA_CS_VERSION_STRING);

  SStorageServerConfig config;
  config.ip = argv[1];
  config.upload_port = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
  config.download_port = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10));
  config.pool_name = argv[4];
  config.ak = Env("OCS_ACCESS_KEY");
  config.sk = Env("OCS_SECRET_KEY");

  CObjectClient client(config);
  if (!client.Init()) {
    return Fail(client, "Init");
  }

  const std::string text = "Hello from a host program.";
  std::string url;
  if (!client.UploadFile(url, text.data(), static_cast<uint32_t>(text.size()))) {
    return Fail(client, "UploadFile");
  }

  char* buffer = nullptr;
  uint32_t length = 0;
  if (!client.DownloadFile(&buffer, length, url)) {
    return Fail(client, "DownloadFile");
  }
  const std::string stored(buffer, length);
  delete[] buffer;  // the caller owns the buffer
  if (stored != text) {
    std::fprintf(stderr, "read back %u different bytes\n", length);
    return 1;
  }

  if (!client.RemoveFileByUrl(url)) {
    return Fail(client, "RemoveFileByUrl");
  }
  std::printf("stored, read back and removed %s\n", url.c_str());
  return 0;
}
