// The upload tests' fixture: an emulator of its own, a client of its first
// pool that records its progress reports, and a scratch folder.
#ifndef ORCA_TEST_UPLOAD_UPLOADTESTUTIL_H_
#define ORCA_TEST_UPLOAD_UPLOADTESTUTIL_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "Emulator.h"
#include "OrcaCloudStorage/StorageClient.h"

namespace orca_test {

inline constexpr size_t kMiB = 1024 * 1024;
// The GUID text that starts every generated object key.
inline constexpr char kGuidPattern[] =
    "[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}";

class UploadTest : public ::testing::Test {
 protected:
  UploadTest() { EXPECT_NE(mkdtemp(dir_.data()), nullptr); }
  ~UploadTest() override { std::filesystem::remove_all(dir_); }

  // A path in the scratch folder; Write puts `bytes` there.
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::string Write(const std::string& name, const std::string& bytes) const {
    std::filesystem::create_directories(std::filesystem::path(Path(name)).parent_path());
    EXPECT_TRUE(std::ofstream(Path(name), std::ios::binary) << bytes) << name;
    return Path(name);
  }
  // The stored object, read back through the memory download.
  std::string Stored(const std::string& url) {
    char* buffer = nullptr;
    uint32_t length = 0;
    EXPECT_TRUE(client_.DownloadFile(&buffer, length, url)) << "cannot read back " << url;
    const std::string bytes(buffer, length);
    delete[] buffer;
    return bytes;
  }
  // Journal entries of `role` ("upload", "node").
  std::vector<EmulatorRequest> SentTo(const std::string& role) {
    std::vector<EmulatorRequest> sent;
    for (EmulatorRequest& request : emulator_.Journal()) {
      if (request.role == role) sent.push_back(std::move(request));
    }
    return sent;
  }
  // The part number of each request to the data nodes, in order (0 for a PUT).
  std::vector<size_t> PartsSent() {
    std::vector<size_t> parts;
    for (const EmulatorRequest& request : SentTo("node")) {
      const size_t at = request.query.find("part_number=");
      parts.push_back(at == std::string::npos ? 0 : std::stoul(request.query.substr(at + 12)));
    }
    return parts;
  }
  // Adds a fault rule given as the members of an admin API document.
  void AddFault(const std::string& members) {
    std::string answer;
    ASSERT_EQ(emulator_.Admin("POST", "/faults", "{" + members + "}", &answer), 200) << answer;
  }
  std::pair<int32_t, std::string> LastError() {
    std::pair<int32_t, std::string> error;
    client_.GetLastError(error.first, error.second);
    return error;
  }
  // The progress reports since the last call.
  std::vector<int32_t> TakeProgress() {
    std::lock_guard<std::mutex> lock(progress_mutex_);
    return std::exchange(progress_, {});
  }

  Emulator emulator_;
  Orca::CloudStorage::CObjectClient client_{RecordingConfig()};

 private:
  // The emulator's configuration, with progress reports going to progress_.
  Orca::CloudStorage::SStorageServerConfig RecordingConfig() {
    Orca::CloudStorage::SStorageServerConfig config = emulator_.ObjectConfig();
    config.progress_callback = [this](const Orca::CloudStorage::SProgressInfo& info) {
      std::lock_guard<std::mutex> lock(progress_mutex_);
      progress_.push_back(info.percent);
    };
    return config;
  }

  std::string dir_ = (std::filesystem::temp_directory_path() / "orca-upload-XXXXXX").string();
  std::mutex progress_mutex_;
  std::vector<int32_t> progress_;
};

}  // namespace orca_test

#endif  // ORCA_TEST_UPLOAD_UPLOADTESTUTIL_H_
