#include "DownloadFixture.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace orca_test {

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void DownloadToFileTest::SetUp() {
  std::string pattern = std::filesystem::temp_directory_path().string() + "/orca-dl-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  dir_ = pattern;
}

void DownloadToFileTest::TearDown() {
  client_.reset();
  emulator_.reset();
  std::filesystem::remove_all(dir_);
}

void DownloadToFileTest::Start(bool https, const std::string& redirect) {
  EmulatorOptions options;
  options.https = https;
  options.redirect = redirect;
  emulator_ = std::make_unique<Emulator>(options);
  if (https) {
    ::setenv("ORCA_CS_CA_BUNDLE", emulator_->ca_bundle().c_str(), 1);
  }
  Orca::CloudStorage::SStorageServerConfig config = emulator_->ObjectConfig();
  config.user_data = 77;
  config.progress_callback = [this](const Orca::CloudStorage::SProgressInfo& info) {
    EXPECT_EQ(info.user_data, 77u);
    EXPECT_EQ(info.reserved, 0u);
    percents_.push_back(info.percent);
  };
  client_ = std::make_unique<Orca::CloudStorage::CObjectClient>(config);
}

std::string DownloadToFileTest::Upload(const std::string& bytes) {
  std::string url;
  if (!client_->UploadFile(url, bytes.data(), static_cast<uint32_t>(bytes.size()))) {
    throw std::runtime_error("upload failed");
  }
  return url;
}

std::string DownloadToFileTest::GeneratedUrl(uint64_t size, uint64_t seed) {
  return "/" + Emulator::pool().name + "/" + GeneratedKey(size, seed);
}

std::string DownloadToFileTest::NodeBase() const {
  return std::string(emulator_->https() ? "https://" : "http://") + emulator_->endpoints().address +
         ":" + std::to_string(emulator_->endpoints().nodes.front());
}

std::vector<EmulatorRequest> DownloadToFileTest::ObjectGets(const std::string& role) {
  std::vector<EmulatorRequest> gets;
  for (EmulatorRequest& request : emulator_->Journal()) {
    if (request.role == role && request.method == "GET" && request.query.empty()) {
      gets.push_back(std::move(request));
    }
  }
  return gets;
}

void DownloadToFileTest::AddFaultJson(const std::string& json) {
  std::string body;
  ASSERT_EQ(emulator_->Admin("POST", "/faults", json, &body), 200) << body;
}

void DownloadToFileTest::ExpectLastError(int32_t code, int32_t subcode,
                                         const std::string& message) const {
  int32_t last_code = 0;
  int32_t last_subcode = 0;
  std::string last_message;
  client_->GetLastError(last_code, last_subcode, last_message);
  EXPECT_EQ(last_code, code);
  EXPECT_EQ(last_subcode, subcode);
  EXPECT_EQ(last_message, message);
}

}  // namespace orca_test
