// Objects, pictures and open multipart uploads on disk.
//
// Layout of the data directory:
//   objects/<pool>/<key>    stored objects
//   pictures/<pool>/<id>    stored pictures
//   uploads/<id>/meta       pool and key of an open multipart upload
//   uploads/<id>/<n>        its part n
//   tmp/                    bodies being received; emptied at start
// Names are encoded with EncodeFileName. Everything is written to tmp/ first
// and renamed into place when complete, so a reader never sees a partial
// object and an interrupted upload leaves nothing visible.
//
// Thread-safe. Each pool has a byte budget (its quota); every stored byte
// (objects, parts, pictures, bodies being received) is charged to it.
#ifndef OCS_EMULATOR_STORE_STORE_H_
#define OCS_EMULATOR_STORE_STORE_H_

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "emulator/Options.h"

namespace ocs {

// A file in tmp/ being filled; removed on destruction unless committed.
class TempFile {
 public:
  TempFile(std::string path, FILE* file);
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Appends; false (with errno set) on a write failure.
  bool Write(const char* data, size_t size);
  // Flushes and closes; false on a write failure.
  bool Close();
  uint64_t size() const { return size_; }
  const std::string& path() const { return path_; }
  // Called by the store once the file has been renamed into place.
  void MarkCommitted() { committed_ = true; }

 private:
  std::string path_;
  FILE* file_;
  uint64_t size_ = 0;
  bool committed_ = false;
};

// An open stored file, for streaming it out.
struct StoredFile {
  std::shared_ptr<int> fd;  // closed with the last copy
  uint64_t size = 0;
};

struct UploadInfo {
  std::string pool;
  std::string key;
  std::map<uint32_t, uint64_t> parts;  // part number -> size
};

class Store {
 public:
  Store(std::string root, const std::vector<PoolConfig>& pools);

  // Creates the folders, empties tmp/ and loads what a previous run left.
  // Returns "" or the problem.
  std::string Open();

  // Quota: charges `bytes` to `pool`, or refuses when that would pass its
  // quota. Release gives bytes back.
  bool Reserve(const std::string& pool, uint64_t bytes);
  void Release(const std::string& pool, uint64_t bytes);
  // True when `pool` has used up its quota.
  bool IsFull(const std::string& pool);

  std::unique_ptr<TempFile> NewTempFile();

  // Objects. Commit renames `file` into place (replacing an object of that
  // key, whose bytes are released); the file's bytes must be reserved.
  bool CommitObject(TempFile& file, const std::string& pool, const std::string& key);
  std::optional<StoredFile> OpenObject(const std::string& pool, const std::string& key);
  bool RemoveObject(const std::string& pool, const std::string& key);
  std::vector<std::pair<std::string, uint64_t>> ListObjects(const std::string& pool);

  // Multipart uploads.
  std::string CreateUpload(const std::string& pool, const std::string& key);
  std::optional<UploadInfo> GetUpload(const std::string& upload_id);
  std::map<std::string, UploadInfo> ListUploads();
  // Stores part `number`, replacing an earlier one. False when the upload is
  // not open (any more).
  bool CommitPart(TempFile& file, const std::string& upload_id, uint32_t number);
  // Concatenates `numbers` (in that order) into the object of the upload and
  // closes the upload; parts not named are dropped. Returns "" or the problem.
  std::string CompleteUpload(const std::string& upload_id, const std::vector<uint32_t>& numbers);

  // Pictures.
  bool CommitPicture(TempFile& file, const std::string& pool, const std::string& id);
  std::optional<StoredFile> OpenPicture(const std::string& pool, const std::string& id);

 private:
  struct PoolState {
    uint64_t quota = 0;
    uint64_t used = 0;
  };

  std::string ObjectPath(const std::string& pool, const std::string& key) const;
  std::string UploadDir(const std::string& upload_id) const;
  std::string PicturePath(const std::string& pool, const std::string& id) const;
  // Renames `file` to `target`; the size of a file it replaces is released.
  bool CommitLocked(TempFile& file, const std::string& pool, const std::string& target);
  void LoadObjects(const std::string& folder);
  void LoadUploads();
  void ReleaseLocked(const std::string& pool, uint64_t bytes);

  const std::string root_;
  std::atomic<uint64_t> temp_counter_{0};
  std::mutex mu_;
  std::map<std::string, PoolState> pools_;     // guarded by mu_
  std::map<std::string, UploadInfo> uploads_;  // guarded by mu_
  std::set<std::string> completing_;           // guarded by mu_
};

}  // namespace ocs

#endif  // OCS_EMULATOR_STORE_STORE_H_
