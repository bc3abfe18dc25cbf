// Helpers of the upload tests: scratch files, test data, digests, progress
// recording and the completion document as the server reads it.
#ifndef ORCA_TEST_UPLOAD_UPLOADTESTUTIL_H_
#define ORCA_TEST_UPLOAD_UPLOADTESTUTIL_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "OrcaCloudStorage/StorageClient.h"

namespace orca_test {

inline constexpr size_t kMiB = 1024 * 1024;
// Matches the GUID text that starts every generated object key.
inline constexpr char kGuidPattern[] =
    "[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}";

// A fresh folder under the temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  // Writes `bytes` into `name` (creating folders on the way); its path.
  std::string Write(const std::string& name, const std::string& bytes) const;

 private:
  std::string dir_;
};

// `size` reproducible pseudo-random bytes.
std::string RandomBytes(size_t size, uint32_t seed);
// Lower-case hex SHA-256.
std::string Sha256Hex(const std::string& bytes);

// Every percentage reported through a configuration's progress callback.
class ProgressLog {
 public:
  std::function<void(const Orca::CloudStorage::SProgressInfo&)> Callback();
  std::vector<int32_t> Values() const;

 private:
  mutable std::mutex mutex_;
  std::vector<int32_t> values_;
};

// The three piece-wise members called alike; `first` only matters to
// UploadFileByPiecesAndFileName, the others know a first piece by its empty URL.
using PieceMember = bool (*)(Orca::CloudStorage::CObjectClient&, std::string& url,
                             const std::string& data, bool last, bool first);
bool ByPieces(Orca::CloudStorage::CObjectClient& client, std::string& url, const std::string& data,
              bool last, bool first);
bool AloneStorage(Orca::CloudStorage::CObjectClient& client, std::string& url,
                  const std::string& data, bool last, bool first);
bool AndFileName(Orca::CloudStorage::CObjectClient& client, std::string& url,
                 const std::string& data, bool last, bool first);

// One Part element of a completion document.
struct CompletedPart {
  std::string number;
  std::string size;
  std::string etag;
  bool operator==(const CompletedPart& other) const {
    return number == other.number && size == other.size && etag == other.etag;
  }
};

// Reads a CompleteMultipartUpload document strictly: the root, then
// TotalPartNum, then Part elements each holding exactly PartNumber, PartSize
// and ETag in that order. False (with a failure added) when it has any other
// shape.
bool ParseCompletion(const std::string& xml, std::string& total, std::vector<CompletedPart>& parts);

}  // namespace orca_test

#endif  // ORCA_TEST_UPLOAD_UPLOADTESTUTIL_H_
