#include "operations/PartTaskRegistry.h"

namespace Orca {
namespace CloudStorage {
namespace {

SPieceTask KeyOnly(const std::string& object_key) { return SPieceTask{{}, {}, object_key}; }

}  // namespace

CPartTaskRegistry& CPartTaskRegistry::GetInstance() {
  static CPartTaskRegistry instance;  // initialised once, whatever the number of callers
  return instance;
}

bool CPartTaskRegistry::RegisterPart(const std::string& task_id, const SPartTaskInfo& info) {
  std::lock_guard<std::mutex> lock(part_mutex_);
  parts_[task_id].insert(info);
  progress_.emplace(task_id, Progress{static_cast<int32_t>(info.part_count), 0});
  return true;
}

bool CPartTaskRegistry::MarkPartDone(const std::string& task_id, const SPartTaskInfo& info) {
  std::lock_guard<std::mutex> lock(part_mutex_);
  const auto parts = parts_.find(task_id);
  const auto progress = progress_.find(task_id);
  if (parts == parts_.end() || progress == progress_.end()) {
    return false;
  }
  const auto part = parts->second.find(info);
  if (part == parts->second.end()) {
    return false;
  }
  parts->second.erase(part);
  parts->second.insert(info);
  ++progress->second.finished;
  return true;
}

bool CPartTaskRegistry::QueryUpload(uint32_t& failed, int32_t& percent,
                                    const std::string& task_id) {
  std::lock_guard<std::mutex> lock(part_mutex_);
  const auto parts = parts_.find(task_id);
  if (parts == parts_.end() || parts->second.empty()) {
    return false;
  }
  bool done = true;
  for (const SPartTaskInfo& part : parts->second) {
    if (part.failed != 0) {
      failed = part.failed;
      break;
    }
    if (!part.finished) {
      done = false;
      break;
    }
  }
  if (done) {
    parts_.erase(parts);
  }
  const auto progress = progress_.find(task_id);
  if (progress != progress_.end() && progress->second.part_count > 0) {
    percent = progress->second.finished * 100 / progress->second.part_count;
  }
  return done;
}

void CPartTaskRegistry::DropUpload(const std::string& task_id) {
  std::lock_guard<std::mutex> lock(part_mutex_);
  parts_.erase(task_id);
  progress_.erase(task_id);
}

bool CPartTaskRegistry::AddPieceTask(const SPieceTask& task) {
  std::lock_guard<std::mutex> lock(piece_mutex_);
  return piece_tasks_.emplace(task, Pieces()).second;
}

bool CPartTaskRegistry::FindPieceTask(const std::string& object_key, SPieceTask& task,
                                      uint32_t& highest_part, uint32_t& last_part) {
  std::lock_guard<std::mutex> lock(piece_mutex_);
  const auto found = piece_tasks_.find(KeyOnly(object_key));
  if (found == piece_tasks_.end() || found->second.sizes.empty()) {
    return false;
  }
  task = found->first;
  highest_part = found->second.sizes.rbegin()->first;
  last_part = found->second.last_part;
  return true;
}

bool CPartTaskRegistry::AddPiece(const std::string& object_key, uint32_t part_number,
                                 uint32_t size) {
  return WithPieces(object_key, [part_number, size](Pieces& pieces) {
    pieces.sizes.emplace(part_number, size);
    pieces.last_part = 0;
  });
}

bool CPartTaskRegistry::SetLastPiece(const std::string& object_key, uint32_t part_number,
                                     uint32_t size) {
  return WithPieces(object_key, [part_number, size](Pieces& pieces) {
    pieces.sizes[part_number] = size;
    pieces.last_part = part_number;
  });
}

bool CPartTaskRegistry::GetAllPieces(const std::string& object_key, PartList& parts) {
  return WithPieces(object_key, [&parts](Pieces& pieces) {
    for (const auto& [part_number, size] : pieces.sizes) {
      parts[part_number] = SPartInfo{size, std::string()};
    }
  });
}

bool CPartTaskRegistry::WithPieces(const std::string& object_key,
                                   const std::function<void(Pieces&)>& use) {
  std::lock_guard<std::mutex> lock(piece_mutex_);
  const auto found = piece_tasks_.find(KeyOnly(object_key));
  if (found == piece_tasks_.end()) {
    return false;
  }
  use(found->second);
  return true;
}

bool CPartTaskRegistry::RemovePieceTask(const std::string& object_key) {
  std::lock_guard<std::mutex> lock(piece_mutex_);
  return piece_tasks_.erase(KeyOnly(object_key)) > 0;
}

}  // namespace CloudStorage
}  // namespace Orca
