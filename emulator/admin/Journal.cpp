#include "emulator/admin/Journal.h"

namespace ocs {

void Journal::Add(JournalEntry entry) {
  const std::lock_guard<std::mutex> lock(mu_);
  entry.seq = next_seq_++;
  entries_.push_back(std::move(entry));
  while (entries_.size() > capacity_) {
    entries_.pop_front();
  }
}

std::vector<JournalEntry> Journal::Entries() const {
  const std::lock_guard<std::mutex> lock(mu_);
  return {entries_.begin(), entries_.end()};
}

void Journal::Clear() {
  const std::lock_guard<std::mutex> lock(mu_);
  entries_.clear();
}

}  // namespace ocs
