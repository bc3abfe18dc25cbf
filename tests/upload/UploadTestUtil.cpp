#include "UploadTestUtil.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <pugixml.hpp>
#include <random>

namespace orca_test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "orca-upload-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  dir_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(dir_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(dir_, ignored);
}

std::string TempDir::Write(const std::string& name, const std::string& bytes) const {
  const std::filesystem::path path = Path(name);
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    throw std::runtime_error("cannot write " + path.string());
  }
  return path.string();
}

std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; i += sizeof(uint32_t)) {
    const uint32_t word = generator();
    std::memcpy(&bytes[i], &word, std::min(sizeof(word), size - i));
  }
  return bytes;
}

std::string Sha256Hex(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 0x0F];
  }
  return hex;
}

std::function<void(const Orca::CloudStorage::SProgressInfo&)> ProgressLog::Callback() {
  return [this](const Orca::CloudStorage::SProgressInfo& info) {
    std::lock_guard<std::mutex> lock(mutex_);
    values_.push_back(info.percent);
  };
}

std::vector<int32_t> ProgressLog::Values() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return values_;
}

bool ByPieces(Orca::CloudStorage::CObjectClient& client, std::string& url, const std::string& data,
              bool last, bool /*first*/) {
  return client.UploadFileByPieces(url, data.data(), static_cast<uint32_t>(data.size()), last);
}

bool AloneStorage(Orca::CloudStorage::CObjectClient& client, std::string& url,
                  const std::string& data, bool last, bool /*first*/) {
  return client.UploadFileByPiecesAloneStorage(url, data.data(), static_cast<uint32_t>(data.size()),
                                               last);
}

bool AndFileName(Orca::CloudStorage::CObjectClient& client, std::string& url,
                 const std::string& data, bool last, bool first) {
  return client.UploadFileByPiecesAndFileName(url, data.data(), static_cast<uint32_t>(data.size()),
                                              last, first);
}

namespace {

std::vector<std::string> ChildNames(const pugi::xml_node& node) {
  std::vector<std::string> names;
  for (const pugi::xml_node& child : node.children()) {
    names.emplace_back(child.type() == pugi::node_element ? child.name() : "#text");
  }
  return names;
}

}  // namespace

bool ParseCompletion(const std::string& xml, std::string& total,
                     std::vector<CompletedPart>& parts) {
  pugi::xml_document document;
  if (!document.load_string(xml.c_str())) {
    ADD_FAILURE() << "not XML: " << xml;
    return false;
  }
  const pugi::xml_node root = document.document_element();
  if (std::string(root.name()) != "CompleteMultipartUpload") {
    ADD_FAILURE() << "root " << root.name();
    return false;
  }
  const std::vector<std::string> names = ChildNames(root);
  if (names.empty() || names.front() != "TotalPartNum") {
    ADD_FAILURE() << "TotalPartNum is not first: " << xml;
    return false;
  }
  total = root.child_value("TotalPartNum");
  parts.clear();
  for (pugi::xml_node part = root.child("TotalPartNum").next_sibling(); part;
       part = part.next_sibling()) {
    const std::vector<std::string> expected = {"PartNumber", "PartSize", "ETag"};
    if (std::string(part.name()) != "Part" || ChildNames(part) != expected) {
      ADD_FAILURE() << "unexpected element in " << xml;
      return false;
    }
    parts.push_back(
        {part.child_value("PartNumber"), part.child_value("PartSize"), part.child_value("ETag")});
  }
  return true;
}

}  // namespace orca_test
