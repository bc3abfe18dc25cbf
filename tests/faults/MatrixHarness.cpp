// Runs the cells of the fault matrix against emulators of this process and
// prints their totals when the run ends.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <mutex>
#include <set>

#include "FaultMatrix.h"
#include "RefusingPort.h"
#include "SecretGuard.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ORCA_TEST_HEAP_HOOKS 1
// The sanitizer runtime's allocator interface (sanitizer/allocator_interface.h,
// which not every compiler ships).
extern "C" {
int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, size_t),
                                              void (*free_hook)(const volatile void*));
size_t __sanitizer_get_allocated_size(const volatile void* p);
}
#endif

namespace orca_test {
namespace {

using Clock = std::chrono::steady_clock;

// A call that must give up after its 1 s time-outs, allowing for the
// one-second granularity of stall checks and a loaded machine.
constexpr auto kTimedOutBound = std::chrono::seconds(10);
// Any other call, 100 MiB error bodies included.
constexpr auto kCallBound = std::chrono::seconds(30);
// Heap growth a call may cause: a few part buffers, never a 100 MiB body.
constexpr int64_t kHeapBound = int64_t{64} << 20;

// The peak of live heap bytes, counted exactly through the sanitizer
// runtime's allocation hooks (nothing is counted without one). Bytes
// allocated before the hooks went in are subtracted when freed, so the count
// is only meaningful relative to a start.
std::atomic<int64_t> g_live{0};
std::atomic<int64_t> g_peak{0};
#if defined(ORCA_TEST_HEAP_HOOKS)
void OnMalloc(const volatile void* /*ptr*/, size_t size) {
  const int64_t live = g_live.fetch_add(static_cast<int64_t>(size)) + static_cast<int64_t>(size);
  int64_t peak = g_peak.load(std::memory_order_relaxed);
  while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
  }
}
void OnFree(const volatile void* ptr) {
  g_live.fetch_sub(static_cast<int64_t>(__sanitizer_get_allocated_size(ptr)));
}
[[maybe_unused]] const bool g_heap_hooked =
    __sanitizer_install_malloc_and_free_hooks(&OnMalloc, &OnFree) != 0;
#endif

// The secret key of the "bad_signature" cells: the service knows another.
constexpr char kWrongSecret[] = "matrix-wrong-secret";

// A stall that must make the call give up outlasts the client's time-outs
// (with retries, a timed-out try is tried again); one the call must ride
// out without a time-out ends well before the 60 s default.
bool StallOutlastsTimeouts(const Cell& cell) {
  return cell.fault == "stall" && (!cell.expect.ok || cell.retries);
}

// A fault of the retry column that stops after a request or two.
bool Transient(const Cell& cell) {
  return cell.retries && cell.count > 0 && cell.count <= 2 && cell.fault != "bad_signature";
}

int StatusOf(const Cell& cell) { return cell.status != 0 ? cell.status : 503; }

// What an error answer of `status` names.
std::string ErrorBody(const Cell& cell) {
  const char* code = cell.variant == Variant::kNoSuchKey      ? "NoSuchKey"
                     : cell.variant == Variant::kNoSuchBucket ? "NoSuchBucket"
                     : StatusOf(cell) == 500                  ? "InternalError"
                     : StatusOf(cell) == 502                  ? "BadGateway"
                     : StatusOf(cell) == 504                  ? "GatewayTimeout"
                                                              : "ServiceUnavailable";
  return std::string("<?xml version=\"1.0\"?><Error><Code>") + code + "</Code></Error>";
}

EmulatorFault FaultOf(const Cell& cell, const std::string& object_url) {
  EmulatorFault fault;
  fault.kind = cell.fault;
  fault.role = cell.at.role;
  fault.method = cell.at.method;
  fault.path = *cell.at.path != '\0' || object_url.empty() ? cell.at.path : object_url;
  fault.path = fault.path.empty() ? "*" : fault.path;
  fault.count = cell.count > 0 ? cell.count : cell.variant == Variant::kOnce ? 1 : 1000;
  fault.header = cell.variant == Variant::kNoLocation     ? "Location"
                 : cell.variant == Variant::kNoObjectSize ? "Object-Size"
                                                          : "Content-Length";
  fault.variant = cell.variant == Variant::kNoPath ? "nopath" : "";
  if (cell.fault == "status") {
    fault.body = ErrorBody(cell);
  }
  // 0: the kind's own (503 for status, 500 for huge_body)
  fault.status = cell.variant == Variant::kStatus200 ? 200 : cell.status;
  // Only stalls wait: a status fault given a delay answers late, and would
  // reach the downloads' 1 s time-outs first.
  if (cell.fault == "stall") {
    fault.delay_ms = StallOutlastsTimeouts(cell) ? kLongStallMs : kShortStallMs;
  }
  return fault;
}

// The files of the emulator's store that `op` may add to: objects or pictures.
std::vector<std::filesystem::path> StoreFiles(Emulator& emulator, bool picture) {
  const std::filesystem::path folder = std::filesystem::path(emulator.data_dir()) /
                                       (picture ? "pictures" : "objects") / Emulator::pool().name;
  std::vector<std::filesystem::path> files;
  std::error_code missing;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, missing)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  return files;
}

// Failed assertions of the running test so far.
int FailedParts() {
  const ::testing::TestResult* result =
      ::testing::UnitTest::GetInstance()->current_test_info()->result();
  int failed = 0;
  for (int i = 0; i < result->total_part_count(); ++i) {
    failed += result->GetTestPartResult(i).failed() ? 1 : 0;
  }
  return failed;
}

// Whether the request met the cell's fault (a bad signature: its 403).
bool MetFault(const Cell& cell, const EmulatorRequest& request) {
  return cell.fault == "bad_signature" ? request.status == 403 : request.fault == cell.fault;
}

// The library's retry records during one call, "[function][tag]retry:
// attempt N of M in D ms, after CAUSE" at level 4: counted and checked
// against the retry column's policy. The `open_after`-th opens the refusing
// ports of a "refused" cell. Installed as the library's log sink for its
// lifetime; every record still passes the secret guard.
class RetryRecords {
 public:
  RetryRecords(int open_after, std::function<void()> open)
      : open_after_(open_after), open_(std::move(open)) {
    Orca::CloudStorage::SetLogSink(&RetryRecords::Sink, this);
  }
  ~RetryRecords() { InstallGuardSink(); }
  RetryRecords(const RetryRecords&) = delete;
  RetryRecords& operator=(const RetryRecords&) = delete;

  int count() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return count_;
  }
  std::vector<std::string> malformed() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return malformed_;
  }

 private:
  static void Sink(int level, const char* /*module*/, const char* message, void* context) {
    CheckNoSecret(message, "log record");
    auto* self = static_cast<RetryRecords*>(context);
    const std::string text = message;
    if (text.find("retry:") == std::string::npos) return;
    // "[function][tag]" before it, then the attempt, the policy and the wait.
    const size_t at = text.find("]retry: ");
    unsigned attempt = 0;
    unsigned attempts = 0;
    unsigned delay = 0;
    char cause = 0;
    bool well_formed =
        level == 4 && at != std::string::npos && text[0] == '[' &&
        text.rfind("][", at) != std::string::npos &&
        std::sscanf(text.c_str() + at + 1, "retry: attempt %u of %u in %u ms, after %c", &attempt,
                    &attempts, &delay, &cause) == 4;
    // Before try n + 1, at most base x 2^(n - 1) ms.
    well_formed = well_formed && attempts == kRetryAttempts && attempt >= 2 &&
                  attempt <= kRetryAttempts && delay <= (kRetryBaseDelayMs << (attempt - 2));
    bool open = false;
    {
      const std::lock_guard<std::mutex> lock(self->mutex_);
      if (!well_formed) self->malformed_.push_back("[" + std::to_string(level) + "] " + text);
      open = ++self->count_ == self->open_after_;
    }
    if (open && self->open_) self->open_();
  }

  const int open_after_;
  const std::function<void()> open_;
  mutable std::mutex mutex_;
  int count_ = 0;
  std::vector<std::string> malformed_;
};

// The call met the fault, returned in time, with the expected result and code.
void CheckCall(const Cell& cell, bool picture, bool ok, const ErrorState& error,
               Clock::duration took, const std::vector<EmulatorRequest>& journal) {
  EXPECT_TRUE(cell.fault == "refused" ||
              std::any_of(journal.begin(), journal.end(),
                          [&](const EmulatorRequest& r) { return MetFault(cell, r); }))
      << "no request of the call met the fault";
  EXPECT_LT(took, StallOutlastsTimeouts(cell) ? kTimedOutBound : kCallBound)
      << "the call did not return in time";
  CheckNoSecret(error.message, "error message");
  EXPECT_EQ(ok, cell.expect.ok) << "code " << error.code << ": " << error.message;
  if (!ok && !cell.expect.ok && !picture) {
    EXPECT_EQ(error.code, cell.expect.code) << error.message;
    EXPECT_THAT(error.message, ::testing::StartsWith(cell.expect.message));
  }
}

// Retries happen with a policy only, in records of its form; a transient
// fault is used up (each request it spoilt was tried again); a download
// that `resumes` asks for the rest only; a request that met the fault was
// sent `tries` times.
void CheckRetries(const Cell& cell, const RetryRecords& records,
                  const std::vector<EmulatorRequest>& journal) {
  if (!cell.retries) {
    EXPECT_EQ(records.count(), 0) << "requests were retried without a retry policy";
    return;
  }
  for (const std::string& record : records.malformed()) {
    ADD_FAILURE() << "a retry record out of form or policy: " << record;
  }
  if (Transient(cell) && cell.expect.ok) {
    if (cell.fault == "refused") {
      EXPECT_GE(records.count(), cell.count) << "the port opened after this many retries";
    } else {
      const auto met = std::count_if(journal.begin(), journal.end(),
                                     [&](const EmulatorRequest& r) { return MetFault(cell, r); });
      // A write whose success status came before its answer broke is done:
      // it is judged by that status and not sent again.
      const bool broken_after_status =
          (cell.fault == "short_body" || cell.fault == "reset_mid_body") &&
          std::string(cell.at.method) != "GET";
      EXPECT_TRUE(broken_after_status ? met >= 1 && met <= cell.count : met == cell.count)
          << "a request spoilt by the fault was not tried again: met " << met;
    }
  }
  if (cell.resumes) {
    EXPECT_TRUE(std::any_of(journal.begin(), journal.end(), [](const EmulatorRequest& r) {
      const std::string range = r.Header("Range");
      return r.fault.empty() && range.rfind("bytes=", 0) == 0 && range != "bytes=0-";
    })) << "the retry did not resume from the bytes already written";
  }
  if (cell.tries == 0) return;
  // A request: method, target and range.
  const auto key = [](const EmulatorRequest& r) {
    return r.method + " " + r.path + "?" + r.query + " " + r.Header("Range");
  };
  std::set<std::string> met;
  for (const EmulatorRequest& r : journal) {
    if (MetFault(cell, r)) met.insert(key(r));
  }
  // The HTTP component sends a request again on its own, once, when a
  // connection it reused is reset before any answer: within one try, except
  // for a request that must never be repeated.
  const int most = cell.fault == "reset" && cell.tries > 1 ? 2 * cell.tries : cell.tries;
  for (const std::string& request : met) {
    const auto sent = std::count_if(journal.begin(), journal.end(),
                                    [&](const EmulatorRequest& r) { return key(r) == request; });
    EXPECT_TRUE(sent >= cell.tries && sent <= most)
        << request << " sent " << sent << " times, not " << cell.tries
        << (most > cell.tries ? " to " + std::to_string(most) : "");
  }
}

// Every object (picture) that appeared during the cell holds exactly the
// bytes the operation uploads: nothing partial or mixed is ever visible.
void CheckNewFiles(const std::vector<std::filesystem::path>& before,
                   const std::vector<std::filesystem::path>& after, const std::string* stored) {
  for (const auto& path : after) {
    if (std::find(before.begin(), before.end(), path) != before.end()) continue;
    ASSERT_NE(stored, nullptr) << "an object appeared: " << path;
    std::ifstream in(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_TRUE(bytes == *stored) << path << " is not whole (" << bytes.size() << " bytes)";
  }
}

EmulatorOptions Https() {
  EmulatorOptions options;
  options.https = true;
  return options;
}

// The emulators (HTTP and HTTPS) and a folder for local files, for the whole
// process.
class Harness {
 public:
  Harness() : dir_(http_.data_dir() + "/../matrix") {
    // Read at every request; set before any HTTPS call of the process.
    ::setenv("ORCA_CS_CA_BUNDLE", https_.ca_bundle().c_str(), 1);
    std::filesystem::create_directories(dir_);
    WatchSecret(kWrongSecret);
  }
  Harness(const Harness&) = delete;
  Harness& operator=(const Harness&) = delete;

  void Run(const OpCells& op, const Cell& cell);

 private:
  Emulator http_;
  Emulator https_{Https()};
  const std::string dir_;
  int cells_run_ = 0;
};

void Harness::Run(const OpCells& op, const Cell& cell) {
  const std::unique_ptr<MatrixOperation> operation = MakeOperation(op.op);
  const bool picture = operation->picture();
  Emulator& emulator = operation->https() ? https_ : http_;
  CellEnv env{emulator,
              picture ? emulator.PictureConfig() : emulator.ObjectConfig(),
              emulator.VersionServer(),
              dir_,
              std::to_string(++cells_run_),
              cell.retries};
  operation->Prepare(env);
  const auto before = StoreFiles(emulator, picture);
  // The ports refuse until the client has retried `count` times: without
  // retries (count 0) they never open.
  std::vector<std::unique_ptr<RefusingPort>> refusing;
  if (cell.fault == "refused") {
    refusing.push_back(std::make_unique<RefusingPort>(env.config.upload_port));
    refusing.push_back(std::make_unique<RefusingPort>(env.config.download_port));
    env.config.upload_port = env.version_server.port = refusing[0]->port();
    env.config.download_port = refusing[1]->port();
  } else if (cell.fault == "bad_signature") {
    env.config.sk = env.version_server.sk = kWrongSecret;
  } else {
    emulator.AddFault(FaultOf(cell, operation->ObjectUrl()));
  }
  emulator.ClearJournal();
  if (cell.variant == Variant::kNoLocation || std::string(cell.at.name) == "redirected") {
    emulator.SetRedirect("always");  // to a data node
  }

  ErrorState error;
  const int64_t heap_start = g_live.load();
  g_peak.store(heap_start);
  bool ok = false;
  Clock::duration took{};
  int64_t heap_growth = 0;
  {
    const RetryRecords records(cell.count, [&refusing] {
      for (const auto& port : refusing) port->Open();
    });
    const Clock::time_point start = Clock::now();
    ok = operation->Call(env, error);
    took = Clock::now() - start;
    heap_growth = g_peak.load() - heap_start;
    refusing.clear();
    emulator.ClearFaults();
    emulator.SetRedirect("off");
    const auto journal = emulator.Journal();
    CheckCall(cell, picture, ok, error, took, journal);
    CheckRetries(cell, records, journal);
  }
  EXPECT_LT(heap_growth, kHeapBound) << "the call held too much memory";
  if (ok) {
    operation->CheckSuccess(env, cell.fault == "malformed" ? kBrokenXml
                                 : cell.fault == "empty"   ? ""
                                                           : nullptr);
  } else {
    operation->CheckFailure(env);
  }
  CheckNewFiles(before, StoreFiles(emulator, picture), operation->Stored());
}

int g_cells = 0;
int g_passed = 0;

// The retry column's figures: passed and run.
struct Tally {
  int passed = 0;
  int run = 0;
  void Add(bool pass) {
    ++run;
    passed += pass ? 1 : 0;
  }
};
std::ostream& operator<<(std::ostream& out, const Tally& tally) {
  return out << tally.passed << "/" << tally.run;
}
std::map<std::string, Tally> g_survived;  // transient faults, by kind
Tally g_unrepeated;                       // transient faults on a picture write
Tally g_permanent;

std::string KindOf(const Cell& cell) {
  return cell.fault == "status" ? "status " + std::to_string(StatusOf(cell)) : cell.fault;
}

void Count(const Cell& cell, bool passed) {
  ++g_cells;
  g_passed += passed ? 1 : 0;
  if (!cell.retries) return;
  if (!Transient(cell)) {
    g_permanent.Add(passed);
  } else if (cell.expect.ok) {
    g_survived[KindOf(cell)].Add(passed);
  } else {
    g_unrepeated.Add(passed);
  }
}

class TotalsPrinter : public ::testing::Environment {
 public:
  void TearDown() override {
    std::cout << "Fault matrix: " << g_cells << " cells, " << g_passed << " passed, "
              << g_cells - g_passed << " failed\n";
    if (g_survived.empty() && g_permanent.run == 0) return;
    Tally survived;
    std::cout << "Retries (" << kRetryAttempts << " tries, " << kRetryBaseDelayMs
              << " ms base delay), transient faults survived by kind:";
    for (const auto& [kind, tally] : g_survived) {
      std::cout << " " << kind << " " << tally << ";";
      survived.passed += tally.passed;
      survived.run += tally.run;
    }
    std::cout << " in all " << survived << "\n"
              << "Retries, transient faults on a picture write failing unrepeated: " << g_unrepeated
              << "; permanent faults failing with their code after their tries: " << g_permanent
              << "\n";
  }
};

const auto* const kTotalsPrinter = ::testing::AddGlobalTestEnvironment(new TotalsPrinter);

}  // namespace

void RunCell(const OpCells& op, const Cell& cell) {
  static Harness harness;
  SCOPED_TRACE(op.name + ("/" + KindOf(cell)) + "@" + cell.at.name +
               (cell.variant == Variant::kOnce ? "(once)" : "") +
               (cell.variant == Variant::kStatus200 ? "(200)" : "") +
               (cell.retries ? "(retries, fault count " + std::to_string(cell.count) + ")" : ""));
  const int failed_before = FailedParts();
  harness.Run(op, cell);
  Count(cell, FailedParts() == failed_before);
}

}  // namespace orca_test
