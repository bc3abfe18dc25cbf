// The process-wide registry of uploads in flight:
//  - the part and progress tables, through which the part tasks of a
//    whole-file upload report and the uploading thread learns progress and
//    failure;
//  - the piece-task table of the piece-wise uploads, keyed by object key.
// The two groups have independent locks; no lock is held beyond a table
// operation.
#ifndef ORCA_CS_PARTTASKREGISTRY_H_
#define ORCA_CS_PARTTASKREGISTRY_H_

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "protocol/PartList.h"

namespace Orca {
namespace CloudStorage {

// One part of a whole-file upload in flight.
struct SPartTaskInfo {
  std::string task_id;
  char* data = nullptr;  // the part's bytes; owned by the part task, never by the registry
  uint32_t size = 0;
  bool finished = false;
  uint32_t failed = 0;  // 1 when the part could not be uploaded
  uint32_t part_number = 0;
  uint32_t part_count = 0;
};

// An open piece-wise upload. Ordered and looked up by object key alone.
struct SPieceTask {
  std::string task_id;
  std::string location;
  std::string object_key;

  bool operator<(const SPieceTask& other) const { return object_key < other.object_key; }
};

class CPartTaskRegistry {
 public:
  // The registry, created on first use; lives until the library is unloaded.
  static CPartTaskRegistry& GetInstance();

  CPartTaskRegistry(const CPartTaskRegistry&) = delete;
  CPartTaskRegistry& operator=(const CPartTaskRegistry&) = delete;

  // --- Parts of whole-file uploads ---

  // Adds `info` under `task_id` (a part number already present is kept) and
  // starts the progress count with the first record's part count.
  bool RegisterPart(const std::string& task_id, const SPartTaskInfo& info);
  // Replaces the registered record of info.part_number with `info` and counts
  // it finished. False when the upload or the part is not registered.
  bool MarkPartDone(const std::string& task_id, const SPartTaskInfo& info);
  // True when the upload needs no more waiting: every registered part has
  // finished, or a failed part was found after only finished ones (its
  // `failed` goes to `failed`). The part entry is then removed. `percent`
  // receives finished x 100 / part count. False, writing nothing, for an
  // unknown upload.
  bool QueryUpload(uint32_t& failed, int32_t& percent, const std::string& task_id);
  // Forgets the upload's part and progress entries (its call has ended).
  void DropUpload(const std::string& task_id);

  // --- Piece tasks of piece-wise uploads ---

  // False when a piece task with that object key exists (it is kept).
  bool AddPieceTask(const SPieceTask& task);
  // True when the piece task exists and has a piece; gives a copy of it, its
  // highest part number and the part number of its recorded last piece (0
  // while none is: the task is not completing).
  bool FindPieceTask(const std::string& object_key, SPieceTask& task, uint32_t& highest_part,
                     uint32_t& last_part);
  // Adds a piece (a part number already present keeps its size); the task
  // is no longer completing. False when there is no such piece task.
  bool AddPiece(const std::string& object_key, uint32_t part_number, uint32_t size);
  // Records the last piece, replacing the size of a part number already
  // present: the task is completing until it is removed or a further piece
  // is added. False when there is no such piece task.
  bool SetLastPiece(const std::string& object_key, uint32_t part_number, uint32_t size);
  // Fills `parts` with every piece. False when there is no such piece task.
  bool GetAllPieces(const std::string& object_key, PartList& parts);
  bool RemovePieceTask(const std::string& object_key);

 private:
  CPartTaskRegistry() = default;
  ~CPartTaskRegistry() = default;

  struct ByPartNumber {
    bool operator()(const SPartTaskInfo& a, const SPartTaskInfo& b) const {
      return static_cast<int32_t>(a.part_number) < static_cast<int32_t>(b.part_number);
    }
  };
  struct Progress {
    int32_t part_count = 0;
    int32_t finished = 0;
  };
  struct Pieces {
    std::map<uint32_t, uint32_t> sizes;  // part number -> size
    uint32_t last_part = 0;              // the recorded last piece, 0 when none
  };

  // Runs `use` on the pieces of the piece task of `object_key` under the
  // piece-task mutex; false when there is no such task.
  bool WithPieces(const std::string& object_key, const std::function<void(Pieces&)>& use);

  std::mutex piece_mutex_;
  std::map<SPieceTask, Pieces> piece_tasks_;

  std::mutex part_mutex_;
  std::map<std::string, std::set<SPartTaskInfo, ByPartNumber>> parts_;
  std::map<std::string, Progress> progress_;
};

}  // namespace CloudStorage
}  // namespace Orca

#endif  // ORCA_CS_PARTTASKREGISTRY_H_
