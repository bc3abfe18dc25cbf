// Fault injection: rules that make matching requests misbehave, taken in the
// order they were added, each for a number of requests; plus an optional
// random mode (seeded, so a run can be replayed).
#ifndef OCS_EMULATOR_FAULTS_FAULTS_H_
#define OCS_EMULATOR_FAULTS_FAULTS_H_

#include <cstdint>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace ocs {

enum class FaultKind {
  kStatus,          // answer `status` with `body` instead of handling the request
  kNotEnoughSpace,  // answer 500 with a NotEnoughSpace error
  kHugeBody,        // answer `status` with a generated body of `size` bytes
  kReset,           // reset the connection (RST) before any answer
  kBadLocation,     // answer 302 with an unusable Location (`variant` scheme|nopath)
  kLoopLocation,    // answer 302 with a Location naming this very request
  kDelay,           // handle normally, wait `delay_ms`, then answer
  kStall,           // handle normally, stall `delay_ms` in the middle of the body
  kResetMidBody,    // handle normally, reset the connection after half the body
  kShortBody,       // handle normally, send half the body of a full Content-Length
  kChunked,         // handle normally, send the body chunked without Content-Length
  kMalformed,       // handle normally, replace the body by a broken XML/JSON document
  kEmpty,           // handle normally, send an empty body
  kMissingHeader,   // handle normally, leave out header `header`
  kIgnoreRange,     // handle as if the request had no Range header
  kTrimBody,        // handle normally, drop the last `size` bytes (default 1) of the body
};

const char* FaultKindName(FaultKind kind);
std::optional<FaultKind> ParseFaultKind(const std::string& name);
// True for kinds that replace the handling of the request.
bool ReplacesHandling(FaultKind kind);

struct FaultAction {
  FaultKind kind = FaultKind::kStatus;
  int status = 0;  // 0: the kind's default
  std::string body;
  std::string content_type;
  int delay_ms = 0;      // 0: the kind's default
  std::string header;    // kMissingHeader
  std::string variant;   // kBadLocation: "scheme" (default) or "nopath"
  std::string location;  // kBadLocation: an exact Location instead
  uint64_t size = 0;     // kHugeBody: 0 means 100 MiB; kTrimBody: 0 means 1
};

// Which requests a rule applies to; empty fields match anything. `path` is a
// glob ("*" matches any run of characters) over the request target, path and
// query, e.g. "/pool1/*" or "*?bestnode"; `range` a glob over the Range
// header, e.g. "bytes=3145728-*".
struct FaultMatch {
  std::string role;
  std::string method;
  std::string path = "*";
  std::string range;
  bool Matches(const std::string& role_name, const std::string& method_name,
               const std::string& target, const std::string& range_header) const;
};

struct FaultRule {
  uint64_t id = 0;
  FaultMatch match;
  FaultAction action;
  int remaining = 1;
};

// Random faults: each matching request gets one of `kinds` with probability
// `probability`, drawn from a generator seeded with `seed`.
struct RandomFaults {
  uint64_t seed = 0;
  double probability = 0;
  std::vector<FaultKind> kinds;
  FaultMatch match;
  FaultAction params;  // status, delay, size... for the kinds drawn
};

bool GlobMatch(const std::string& pattern, const std::string& text);

class FaultInjector {
 public:
  uint64_t Add(const FaultMatch& match, const FaultAction& action, int count);
  void SetRandom(const RandomFaults& random);
  void ClearRandom();
  void Clear();
  std::vector<FaultRule> Rules() const;
  std::optional<RandomFaults> Random() const;

  // The fault for this request, if any: the first rule that matches (its
  // count goes down), else a random draw.
  std::optional<FaultAction> Take(const std::string& role, const std::string& method,
                                  const std::string& target, const std::string& range_header);

 private:
  mutable std::mutex mu_;
  std::vector<FaultRule> rules_;
  uint64_t next_id_ = 1;
  std::optional<RandomFaults> random_;
  std::mt19937_64 generator_;
};

}  // namespace ocs

#endif  // OCS_EMULATOR_FAULTS_FAULTS_H_
