// Runs the cells of the fault matrix against emulators of this process and
// prints their totals when the run ends.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "FaultMatrix.h"
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

// A stall that must make the call give up outlasts the client's time-outs;
// one the call must ride out ends well before the 60 s default.
bool StallOutlastsTimeouts(const Cell& cell) { return cell.fault == "stall" && !cell.expect.ok; }

EmulatorFault FaultOf(const Cell& cell, const std::string& object_url) {
  EmulatorFault fault;
  fault.kind = cell.fault;
  fault.role = cell.at.role;
  fault.method = cell.at.method;
  fault.path = *cell.at.path != '\0' || object_url.empty() ? cell.at.path : object_url;
  fault.path = fault.path.empty() ? "*" : fault.path;
  fault.count = cell.variant == Variant::kOnce ? 1 : 1000;
  fault.header = cell.variant == Variant::kNoLocation     ? "Location"
                 : cell.variant == Variant::kNoObjectSize ? "Object-Size"
                                                          : "Content-Length";
  fault.variant = cell.variant == Variant::kNoPath ? "nopath" : "";
  if (cell.fault == "status") {
    fault.body = "<?xml version=\"1.0\"?><Error><Code>ServiceUnavailable</Code></Error>";
  }
  fault.status = cell.variant == Variant::kStatus200 ? 200 : 0;  // 0: the kind's own
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

// The call met the fault, returned in time, with the expected result and code.
void CheckCall(const Cell& cell, bool picture, bool ok, const ErrorState& error,
               Clock::duration took, Emulator& emulator) {
  const auto journal = emulator.Journal();
  EXPECT_TRUE(cell.fault == "refused" ||
              std::any_of(journal.begin(), journal.end(),
                          [&](const EmulatorRequest& r) { return r.fault == cell.fault; }))
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

// The emulators (HTTP and HTTPS), a folder for local files and a port where
// connections are refused, for the whole process.
class Harness {
 public:
  Harness() : dir_(http_.data_dir() + "/../matrix") {
    // Read at every request; set before any HTTPS call of the process.
    ::setenv("ORCA_CS_CA_BUNDLE", https_.ca_bundle().c_str(), 1);
    std::filesystem::create_directories(dir_);
    dead_socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);  // bound, never listening
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (::bind(dead_socket_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        ::getsockname(dead_socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      dead_port_ = ntohs(address.sin_port);
    }
  }
  ~Harness() { ::close(dead_socket_); }
  Harness(const Harness&) = delete;
  Harness& operator=(const Harness&) = delete;

  void Run(const OpCells& op, const Cell& cell);

 private:
  Emulator http_;
  Emulator https_{Https()};
  const std::string dir_;
  int dead_socket_ = -1;
  uint32_t dead_port_ = 0;
  int cells_run_ = 0;
};

void Harness::Run(const OpCells& op, const Cell& cell) {
  ASSERT_NE(dead_port_, 0u) << "no port to refuse connections";
  const std::unique_ptr<MatrixOperation> operation = MakeOperation(op.op);
  const bool picture = operation->picture();
  Emulator& emulator = operation->https() ? https_ : http_;
  CellEnv env{emulator, picture ? emulator.PictureConfig() : emulator.ObjectConfig(),
              emulator.VersionServer(), dir_, std::to_string(++cells_run_)};
  operation->Prepare(env);
  const auto before = StoreFiles(emulator, picture);
  if (cell.fault == "refused") {
    env.config.upload_port = env.config.download_port = env.version_server.port = dead_port_;
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
  const Clock::time_point start = Clock::now();
  const bool ok = operation->Call(env, error);
  const Clock::duration took = Clock::now() - start;
  const int64_t heap_growth = g_peak.load() - heap_start;
  emulator.ClearFaults();
  emulator.SetRedirect("off");

  CheckCall(cell, picture, ok, error, took, emulator);
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

class TotalsPrinter : public ::testing::Environment {
 public:
  void TearDown() override {
    std::cout << "Fault matrix: " << g_cells << " cells, " << g_passed << " passed, "
              << g_cells - g_passed << " failed\n";
  }
};

const auto* const kTotalsPrinter = ::testing::AddGlobalTestEnvironment(new TotalsPrinter);

}  // namespace

void RunCell(const OpCells& op, const Cell& cell) {
  static Harness harness;
  SCOPED_TRACE(op.name + ("/" + cell.fault) + "@" + cell.at.name +
               (cell.variant == Variant::kOnce ? "(once)" : "") +
               (cell.variant == Variant::kStatus200 ? "(200)" : ""));
  const int failed_before = FailedParts();
  harness.Run(op, cell);
  ++g_cells;
  g_passed += FailedParts() == failed_before ? 1 : 0;
}

}  // namespace orca_test
