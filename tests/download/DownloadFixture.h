// The end-to-end download tests' fixture: an emulator with a client of its
// first pool that records progress, and local files in a private folder.
#ifndef ORCA_TEST_DOWNLOAD_DOWNLOADFIXTURE_H_
#define ORCA_TEST_DOWNLOAD_DOWNLOADFIXTURE_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Emulator.h"
#include "OrcaCloudStorage/StorageClient.h"

namespace orca_test {

inline constexpr uint64_t kMiB = 1024 * 1024;

void WriteFile(const std::string& path, const std::string& bytes);
// Nothing when the file cannot be read.
std::optional<std::string> ReadFile(const std::string& path);

class DownloadToFileTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the emulator and a client of "pool1" whose progress reports,
  // carrying user data 77, go to percents_. Over HTTPS the client trusts
  // the emulator's CA.
  void Start(bool https, const std::string& redirect = "off");
  std::string LocalPath(const std::string& name) const { return dir_ + "/" + name; }
  // Stores `bytes` through the memory upload and returns the object URL.
  std::string Upload(const std::string& bytes);
  static std::string GeneratedUrl(uint64_t size, uint64_t seed);
  // "scheme://address:port" of the first data node.
  std::string NodeBase() const;
  // Journal entries of object GETs without a query that reached `role`.
  std::vector<EmulatorRequest> ObjectGets(const std::string& role);
  // Adds a fault rule given as a JSON document of the admin API.
  void AddFaultJson(const std::string& json);
  void ExpectLastError(int32_t code, int32_t subcode, const std::string& message) const;

  std::unique_ptr<Emulator> emulator_;
  std::unique_ptr<Orca::CloudStorage::CObjectClient> client_;
  std::vector<int32_t> percents_;
  std::string dir_;
};

}  // namespace orca_test

#endif  // ORCA_TEST_DOWNLOAD_DOWNLOADFIXTURE_H_
