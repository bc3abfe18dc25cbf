// The fixture of the upload tests: an emulator of its own, a client of its
// first pool that records its progress reports, a scratch folder, and test
// data.
#ifndef ORCA_TEST_UPLOAD_UPLOADTESTUTIL_H_
#define ORCA_TEST_UPLOAD_UPLOADTESTUTIL_H_

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "Emulator.h"
#include "OrcaCloudStorage/StorageClient.h"

namespace orca_test {

inline constexpr size_t kMiB = 1024 * 1024;
// Matches the GUID text that starts every generated object key.
inline constexpr char kGuidPattern[] =
    "[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}";

// `size` reproducible pseudo-random bytes.
std::string RandomBytes(size_t size, uint32_t seed);

class UploadTest : public ::testing::Test {
 protected:
  UploadTest();
  ~UploadTest() override;

  // A path in the scratch folder; Write puts `bytes` there (creating
  // folders on the way).
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::string Write(const std::string& name, const std::string& bytes) const;
  // The stored object, read back through the memory download.
  std::string Stored(const std::string& url);
  // Journal entries of `role` ("upload", "node").
  std::vector<EmulatorRequest> SentTo(const std::string& role);
  // The part number of a part upload; 0 for any other request.
  static size_t PartNumber(const EmulatorRequest& request);
  // The part number of each request to the data nodes, in order.
  std::vector<size_t> PartsSent();
  // Adds a fault rule given as the members of an admin API document.
  void AddFault(const std::string& members);
  std::pair<int32_t, std::string> LastError();
  // The progress reports since the last call.
  std::vector<int32_t> TakeProgress();

  Emulator emulator_;
  Orca::CloudStorage::CObjectClient client_;

 private:
  std::string dir_;
  std::mutex progress_mutex_;
  std::vector<int32_t> progress_;
};

}  // namespace orca_test

#endif  // ORCA_TEST_UPLOAD_UPLOADTESTUTIL_H_
