#include "MatrixHarness.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iterator>

#include "HeapPeak.h"
#include "MatrixOperations.h"
#include "SecretGuard.h"

namespace orca_test {
namespace {

using ::testing::StartsWith;
using Clock = std::chrono::steady_clock;

// A call that must give up after its 1 s time-outs, allowing for the
// one-second granularity of stall checks and a loaded machine.
constexpr auto kTimedOutBound = std::chrono::seconds(10);
// Any other call, 100 MiB error bodies included.
constexpr auto kCallBound = std::chrono::seconds(30);
// Heap growth a call may cause: a few part buffers, never a 100 MiB body.
constexpr int64_t kHeapBound = int64_t{64} << 20;
constexpr int kEveryRequest = 1000;
constexpr char kServiceUnavailable[] =
    "<?xml version=\"1.0\"?><Error><Code>ServiceUnavailable</Code></Error>";

struct Target {
  const char* role;
  const char* method;
  std::string path;
};

Target TargetOf(At at, const std::string& object_url) {
  switch (at) {
    case At::kAll:
      return {"", "", "*"};
    case At::kBestNode:
      return {"upload", "GET", "*?bestnode"};
    case At::kPut:
      return {"node", "PUT", "*"};
    case At::kCreate:
      return {"upload", "POST", "*?uploads"};
    case At::kPart1:
      return {"node", "POST", "*&part_number=1"};
    case At::kPart2:
      return {"node", "POST", "*&part_number=2"};
    case At::kPart3:
      return {"node", "POST", "*&part_number=3"};
    case At::kParts:
      return {"node", "POST", "*"};
    case At::kComplete:
      return {"upload", "POST", "*?upload_id=*"};
    case At::kGet:
      return {"download", "GET", object_url};
    case At::kRedirected:
      return {"node", "GET", object_url.empty() ? "*" : object_url};
    case At::kMetadata:
      return {"download", "GET", "*?metadata"};
    case At::kDelete:
      return {"upload", "DELETE", "*"};
    case At::kVersion:
      return {"upload", "GET", "/?version"};
    case At::kPicBestNode:
      return {"gateway", "GET", "/QuarnBox/BestNode*"};
    case At::kPicWrite:
      return {"gateway", "POST", "/QuarnBox/Picture/Write"};
    case At::kPicGet:
      return {"gateway-download", "GET", "*"};
  }
  return {"", "", "*"};
}

// A stall that must make the call give up outlasts the client's time-outs;
// one the call must ride out ends well before the 60 s default.
bool StallOutlastsTimeouts(const Cell& cell) {
  return cell.fault == Fault::kStall && !cell.expect.ok;
}

EmulatorFault FaultOf(const Cell& cell, const std::string& object_url) {
  const Target target = TargetOf(cell.at, object_url);
  EmulatorFault fault;
  fault.kind = cell.fault == Fault::k5xx ? "status" : FaultName(cell.fault);
  fault.role = target.role;
  fault.method = target.method;
  fault.path = target.path;
  fault.count = cell.once ? 1 : kEveryRequest;
  fault.header = cell.header;
  fault.variant = cell.no_path ? "nopath" : "";
  if (cell.fault == Fault::k5xx) {
    fault.status = 503;
    fault.body = kServiceUnavailable;
  }
  if (cell.fault == Fault::kHugeBody) {
    fault.status = cell.status;
  }
  if (cell.fault == Fault::kStall) {
    fault.delay_ms = StallOutlastsTimeouts(cell) ? kLongStallMs : kShortStallMs;
  }
  return fault;
}

std::string CellName(const Cell& cell) {
  return std::string(OpName(cell.op)) + "/" + FaultName(cell.fault) + "@" + AtName(cell.at) +
         (cell.once ? "(once)" : "") + (cell.status != 0 ? "(200)" : "");
}

// The fault struck at least one request of the call.
void ExpectFaultApplied(Emulator& emulator, const std::string& kind) {
  for (const EmulatorRequest& request : emulator.Journal()) {
    if (request.fault == kind) {
      return;
    }
  }
  ADD_FAILURE() << "no request of the call met the fault " << kind;
}

std::vector<std::string> ObjectKeys(Emulator& emulator) {
  std::vector<std::string> keys;
  for (const auto& [key, size] : emulator.Objects(Emulator::pool().name)) {
    keys.push_back(key);
  }
  return keys;
}

}  // namespace

MatrixHarness& MatrixHarness::Instance() {
  static MatrixHarness harness;
  return harness;
}

MatrixHarness::MatrixHarness() {
  std::string pattern = std::filesystem::temp_directory_path().string() + "/fault-matrix-XXXXXX";
  if (::mkdtemp(pattern.data()) != nullptr) {
    dir_ = pattern;
  }
  dead_socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  if (dead_socket_ >= 0 &&
      ::bind(dead_socket_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
      ::getsockname(dead_socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    dead_port_ = ntohs(address.sin_port);
  }
}

MatrixHarness::~MatrixHarness() {
  if (dead_socket_ >= 0) {
    ::close(dead_socket_);
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

Emulator& MatrixHarness::EmulatorFor(bool https) {
  std::unique_ptr<Emulator>& slot = https ? https_ : http_;
  if (!slot) {
    EmulatorOptions options;
    options.https = https;
    slot = std::make_unique<Emulator>(options);
    if (https) {
      // Read at every request; set once, before any HTTPS call of the process.
      ::setenv("ORCA_CS_CA_BUNDLE", slot->ca_bundle().c_str(), 1);
    }
  }
  return *slot;
}

CellOutcome MatrixHarness::Run(const Cell& cell) {
  SCOPED_TRACE(CellName(cell));
  EXPECT_FALSE(dir_.empty() || dead_port_ == 0) << "no temporary folder or dead port";
  const std::unique_ptr<MatrixOperation> operation = MakeOperation(cell.op);
  Emulator& emulator = EmulatorFor(operation->https());
  emulator.ClearFaults();
  emulator.SetRedirect("off");
  CellEnv env{emulator, operation->picture() ? emulator.PictureConfig() : emulator.ObjectConfig(),
              emulator.VersionServer(), dir_, std::to_string(++cells_run_)};
  operation->Prepare(env);
  const std::vector<std::string> before = ObjectKeys(emulator);
  Arm(cell, *operation, env);

  CallReport call;
  HeapPeak::Start();
  const Clock::time_point start = Clock::now();
  call.ok = operation->Call(env, call.error);
  call.took = Clock::now() - start;
  call.heap_growth = HeapPeak::Growth();
  emulator.ClearFaults();
  emulator.SetRedirect("off");

  CheckCall(cell, *operation, call);
  if (call.ok) {
    operation->CheckSuccess(env, cell.expect);
  } else {
    operation->CheckFailure(env);
  }
  CheckVisibleObjects(emulator, before, operation->StoredObject());
  if (operation->StoredPicture() != nullptr) {
    CheckStoredPictures(emulator, *operation->StoredPicture());
  }
  return CellOutcome{call.ok, call.ok ? 0 : call.error.code, call.heap_growth};
}

void MatrixHarness::Arm(const Cell& cell, const MatrixOperation& operation, CellEnv& env) {
  if (cell.fault == Fault::kRefused) {
    env.config.upload_port = dead_port_;
    env.config.download_port = dead_port_;
    env.version_server.port = dead_port_;
  } else {
    env.emulator.AddFault(FaultOf(cell, operation.ObjectUrl()));
  }
  env.emulator.ClearJournal();
  if (std::string(cell.header) == "Location" || cell.at == At::kRedirected) {
    env.emulator.SetRedirect("always");  // to a data node
  }
}

void MatrixHarness::CheckCall(const Cell& cell, const MatrixOperation& operation,
                              const CallReport& call) {
  Emulator& emulator = EmulatorFor(operation.https());
  if (cell.fault != Fault::kRefused) {
    ExpectFaultApplied(emulator, FaultOf(cell, "").kind);
  }
  EXPECT_LT(call.took, StallOutlastsTimeouts(cell) ? kTimedOutBound : kCallBound)
      << "the call did not return in time";
  if (HeapPeak::Supported()) {
    EXPECT_LT(call.heap_growth, kHeapBound) << "the call held too much memory";
  }
  CheckNoSecret(call.error.message, "error message");
  EXPECT_EQ(call.ok, cell.expect.ok) << "code " << call.error.code << ": " << call.error.message;
  if (!call.ok && !cell.expect.ok && !operation.picture()) {
    EXPECT_EQ(call.error.code, cell.expect.code) << call.error.message;
    EXPECT_THAT(call.error.message, StartsWith(cell.expect.message));
  }
}

// Every object that appeared during the cell holds exactly the bytes the
// operation uploads: no partial or mixed object is ever visible.
void MatrixHarness::CheckVisibleObjects(Emulator& emulator, const std::vector<std::string>& before,
                                        const std::string* stored) {
  for (const std::string& key : ObjectKeys(emulator)) {
    if (std::find(before.begin(), before.end(), key) != before.end()) {
      continue;
    }
    ASSERT_NE(stored, nullptr) << "an object appeared: " << key;
    std::string bytes;
    ASSERT_TRUE(ReadObject(emulator, "/" + Emulator::pool().name + "/" + key, bytes)) << key;
    EXPECT_TRUE(bytes == *stored) << "the visible object " << key << " is not whole ("
                                  << bytes.size() << " of " << stored->size() << " bytes)";
  }
}

// The same for the pictures in the emulator's store.
void MatrixHarness::CheckStoredPictures(Emulator& emulator, const std::string& picture) {
  const std::filesystem::path folder =
      std::filesystem::path(emulator.data_dir()) / "pictures" / Emulator::pool().name;
  std::error_code missing;
  for (const auto& entry : std::filesystem::directory_iterator(folder, missing)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_TRUE(bytes == picture) << "the stored picture " << entry.path() << " is not whole";
  }
}

MatrixTally& MatrixTally::Instance() {
  static MatrixTally tally;
  return tally;
}

void MatrixTally::Record(const Cell& cell, const CellOutcome& outcome, bool passed) {
  const std::lock_guard<std::mutex> lock(mutex_);
  entries_.push_back(Entry{cell, outcome, passed});
}

void MatrixTally::Print(std::ostream& out) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (entries_.empty()) {
    return;
  }
  constexpr int kFaults = static_cast<int>(Fault::kHugeBody) + 1;
  constexpr int kNameWidth = 20;
  constexpr int kColumnWidth = 9;
  out << "\nFault matrix (S: success, a digit: the recorded code, F: false from the picture "
         "client, !: the cell failed)\n"
      << std::left << std::setw(kNameWidth) << "operation";
  for (int f = 0; f < kFaults; ++f) {
    out << std::setw(kColumnWidth) << std::string(FaultName(static_cast<Fault>(f))).substr(0, 8);
  }
  std::map<Op, std::vector<std::string>> rows;
  int passed = 0;
  for (const Entry& e : entries_) {
    std::vector<std::string>& row = rows[e.cell.op];
    row.resize(kFaults);
    std::string text = e.outcome.ok          ? "S"
                       : e.outcome.code == 0 ? "F"
                                             : std::to_string(e.outcome.code);
    text += e.passed ? "" : "!";
    std::string& slot = row[static_cast<int>(e.cell.fault)];
    slot += (slot.empty() ? "" : "/") + text;
    passed += e.passed ? 1 : 0;
  }
  out << "\n";
  for (const auto& [op, row] : rows) {
    out << std::setw(kNameWidth) << OpName(op);
    for (const std::string& text : row) {
      out << std::setw(kColumnWidth) << (text.empty() ? "." : text);
    }
    out << "\n";
  }
  const auto largest = std::max_element(entries_.begin(), entries_.end(), [](auto& a, auto& b) {
    return a.outcome.heap_growth < b.outcome.heap_growth;
  });
  if (HeapPeak::Supported()) {
    out << "Largest heap growth of a call: " << (largest->outcome.heap_growth >> 10) << " KiB ("
        << CellName(largest->cell) << ")\n";
  }
  out << "Fault matrix: " << entries_.size() << " cells, " << passed << " passed, "
      << entries_.size() - passed << " failed\n";
}

}  // namespace orca_test
