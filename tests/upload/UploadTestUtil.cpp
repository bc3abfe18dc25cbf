#include "UploadTestUtil.h"

#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

namespace orca_test {

std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; i += sizeof(uint32_t)) {
    const uint32_t word = generator();
    std::memcpy(&bytes[i], &word, std::min(sizeof(word), size - i));
  }
  return bytes;
}

UploadTest::UploadTest()
    : client_([this] {
        Orca::CloudStorage::SStorageServerConfig config = emulator_.ObjectConfig();
        config.progress_callback = [this](const Orca::CloudStorage::SProgressInfo& info) {
          std::lock_guard<std::mutex> lock(progress_mutex_);
          progress_.push_back(info.percent);
        };
        return config;
      }()) {
  std::string pattern = (std::filesystem::temp_directory_path() / "orca-upload-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  dir_ = pattern;
}

UploadTest::~UploadTest() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::string UploadTest::Write(const std::string& name, const std::string& bytes) const {
  const std::filesystem::path path = Path(name);
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    throw std::runtime_error("cannot write " + path.string());
  }
  return path.string();
}

std::string UploadTest::Stored(const std::string& url) {
  char* buffer = nullptr;
  uint32_t length = 0;
  if (!client_.DownloadFile(&buffer, length, url)) {
    ADD_FAILURE() << "cannot read back " << url;
    return "";
  }
  std::string bytes(buffer, length);
  delete[] buffer;
  return bytes;
}

std::vector<EmulatorRequest> UploadTest::SentTo(const std::string& role) {
  std::vector<EmulatorRequest> sent;
  for (EmulatorRequest& request : emulator_.Journal()) {
    if (request.role == role) sent.push_back(std::move(request));
  }
  return sent;
}

size_t UploadTest::PartNumber(const EmulatorRequest& request) {
  const size_t at = request.query.find("part_number=");
  return at == std::string::npos ? 0 : std::stoul(request.query.substr(at + 12));
}

std::vector<size_t> UploadTest::PartsSent() {
  std::vector<size_t> parts;
  for (const EmulatorRequest& request : SentTo("node")) parts.push_back(PartNumber(request));
  return parts;
}

void UploadTest::AddFault(const std::string& members) {
  std::string answer;
  ASSERT_EQ(emulator_.Admin("POST", "/faults", "{" + members + "}", &answer), 200) << answer;
}

std::pair<int32_t, std::string> UploadTest::LastError() {
  std::pair<int32_t, std::string> error;
  client_.GetLastError(error.first, error.second);
  return error;
}

std::vector<int32_t> UploadTest::TakeProgress() {
  std::lock_guard<std::mutex> lock(progress_mutex_);
  return std::exchange(progress_, {});
}

}  // namespace orca_test
