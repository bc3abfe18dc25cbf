// The journal of received requests, for tests to assert on.
#ifndef OCS_EMULATOR_ADMIN_JOURNAL_H_
#define OCS_EMULATOR_ADMIN_JOURNAL_H_

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace ocs {

struct JournalEntry {
  uint64_t seq = 0;  // set by the journal, from 1
  std::string role;  // upload, download, node, gateway, gateway-download
  int port = 0;
  std::string method;
  std::string path;   // raw, as sent
  std::string query;  // raw, without "?"
  // Header fields sorted by name (case-insensitive), as the HTTP server
  // hands them over; repeated fields keep their order.
  std::vector<std::pair<std::string, std::string>> headers;
  uint64_t body_length = 0;
  std::string body_md5;  // hex; empty when the body was not read whole
  int status = 0;        // 0 when the connection was reset instead
  std::string fault;     // the fault kind applied, or empty
};

class Journal {
 public:
  explicit Journal(size_t capacity = 100000) : capacity_(capacity) {}

  void Add(JournalEntry entry);
  std::vector<JournalEntry> Entries() const;
  void Clear();

 private:
  const size_t capacity_;  // the oldest entries go first
  mutable std::mutex mu_;
  std::deque<JournalEntry> entries_;
  uint64_t next_seq_ = 1;
};

}  // namespace ocs

#endif  // OCS_EMULATOR_ADMIN_JOURNAL_H_
