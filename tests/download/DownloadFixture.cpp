#include "DownloadFixture.h"

#include <openssl/evp.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace orca_test {
namespace {

class Sha256 {
 public:
  Sha256() : ctx_(EVP_MD_CTX_new(), EVP_MD_CTX_free) {
    EVP_DigestInit_ex(ctx_.get(), EVP_sha256(), nullptr);
  }
  void Update(const char* data, size_t size) { EVP_DigestUpdate(ctx_.get(), data, size); }
  std::string Hex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_DigestFinal_ex(ctx_.get(), digest, &size);
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) {
      hex += kDigits[digest[i] >> 4];
      hex += kDigits[digest[i] & 15];
    }
    return hex;
  }

 private:
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx_;
};

}  // namespace

std::string Sha256Hex(const std::string& bytes) {
  Sha256 sha;
  sha.Update(bytes.data(), bytes.size());
  return sha.Hex();
}

std::string FileSha256Hex(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "";
  Sha256 sha;
  std::vector<char> buffer(kMiB);
  while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
    sha.Update(buffer.data(), static_cast<size_t>(in.gcount()));
  }
  return sha.Hex();
}

std::string GeneratedSha256Hex(uint64_t size, uint64_t seed) {
  Sha256 sha;
  std::vector<char> buffer(kMiB);
  for (uint64_t at = 0; at < size; at += buffer.size()) {
    const auto n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), size - at));
    FillGenerated(seed, at, buffer.data(), n);
    sha.Update(buffer.data(), n);
  }
  return sha.Hex();
}

std::string RandomBytes(size_t size, uint64_t seed) {
  std::mt19937_64 generator(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(generator());
  return bytes;
}

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

void DownloadToFileTest::Start(const EmulatorOptions& options) {
  emulator_ = std::make_unique<Emulator>(options);
  if (options.https) {
    ::setenv("ORCA_CS_CA_BUNDLE", emulator_->ca_bundle().c_str(), 1);
  }
  Orca::CloudStorage::SStorageServerConfig config = emulator_->ObjectConfig();
  config.progress_callback = [this](const Orca::CloudStorage::SProgressInfo& info) {
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

std::vector<EmulatorRequest> DownloadToFileTest::MetadataRequests() {
  std::vector<EmulatorRequest> found;
  for (EmulatorRequest& request : emulator_->Journal()) {
    if (request.query == "metadata") found.push_back(std::move(request));
  }
  return found;
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
