// The fault matrix: every public operation against every fault the emulator
// can inject. A cell names the fault, the request of the operation that gets
// it, and the outcome the library must report (cells in FaultCells.cpp, the
// operations in MatrixOperations.cpp, the checks in MatrixHarness.cpp).
#ifndef ORCA_TEST_FAULTS_FAULTMATRIX_H_
#define ORCA_TEST_FAULTS_FAULTMATRIX_H_

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "Emulator.h"
#include "OrcaCloudStorage/StorageClient.h"

namespace orca_test {

enum class Op {
  kUploadMemory,
  kUploadFileSmall,
  kUploadFileMultipart,
  kPieces,
  kPiecesAloneStorage,
  kPiecesAndFileName,
  kDownloadMemory,
  kDownloadRange,
  kDownloadFileHttp,
  kDownloadFileHttps,
  kRemove,
  kRemoveObjectFile,
  kVersion,
  kPictureUpload,
  kPictureDownload
};

enum class Fault {
  kRefused,         // nothing listens on the ports
  kReset,           // connection reset before the answer
  kResetMidBody,    // reset after half the answer's body
  kStall,           // the answer stalls half-way (see kShortStallMs below)
  kShortBody,       // half the body of a full Content-Length, then close
  kChunked,         // the body chunked, without Content-Length
  k5xx,             // 503 with an XML error body
  kNotEnoughSpace,  // 500 naming NotEnoughSpace
  kMalformed,       // the body replaced by a broken XML/JSON document (kBrokenXml)
  kEmpty,           // the body replaced by nothing
  kMissingHeader,   // a header field left out (Cell::variant)
  kBadLocation,     // 302 to a Location of the wrong scheme (or without path)
  kLoopLocation,    // 302 to the very same URL, again and again
  kHugeBody,        // 500 (or 200: Cell::variant) with a 100 MiB body
};

// The requests of an operation that a fault hits: the emulator's role,
// method and path glob ("" for the object URL the operation names).
struct Target {
  const char* name;
  const char* role;
  const char* method;
  const char* path;
};

// How a cell's fault departs from the plain one.
enum class Variant {
  kNone,
  kOnce,          // the fault hits one request only (else every one)
  kNoLength,      // kMissingHeader: Content-Length
  kNoLocation,    // kMissingHeader: Location (downloads are redirected)
  kNoObjectSize,  // kMissingHeader: Object-Size
  kNoPath,        // kBadLocation: a Location without a path
  kStatus200,     // kHugeBody: status 200 where a small document is expected
};

// Requests without a configurable time-out wait 60 s for a stalled answer,
// too long for CI: they get a stall shorter than that, which they must ride
// out (the cell expects success). The download requests that carry the
// client's time-outs (1 s here) get a stall far longer and must give up.
inline constexpr int kShortStallMs = 1500;
inline constexpr int kLongStallMs = 30000;
inline constexpr uint32_t kClientTimeoutMs = 1000;

inline constexpr char kBrokenXml[] = R"(<?xml version="1.0" encoding="UTF-8"?><BestNodeInfo><Loc)";

// What the operation must report: success, or false with `code` and an
// error message starting with `message` (code 0: a picture call, which
// records no error).
struct Expect {
  bool ok;
  int32_t code;
  const char* message;
};

struct Cell {
  Fault fault;
  Target at;
  Expect expect;
  Variant variant = Variant::kNone;
};

struct OpCells {
  Op op;
  const char* name;
  std::vector<Cell> cells;
};

const std::vector<OpCells>& MatrixCells();
inline void PrintTo(const OpCells& op, std::ostream* out) { *out << op.name; }
const char* FaultName(Fault fault);

// Runs `cell` of `op` with GoogleTest assertions (the call returns in time
// with the expected result and code, a success is verified through the
// emulator, a failure leaves the out arguments alone, no partial object is
// visible, no secret leaks, heap growth stays bounded) and records it.
void RunCell(const OpCells& op, const Cell& cell);
// The totals of the cells run: cells, passed, failed.
void PrintTotals(std::ostream& out);

struct ErrorState {
  int32_t code = 0;
  std::string message;
};

// What one cell's call works with.
struct CellEnv {
  Emulator& emulator;
  // The client's configuration (dead ports when nothing must answer).
  Orca::CloudStorage::SStorageServerConfig config;
  Orca::CloudStorage::SStorageServerInfo version_server;
  std::string dir;  // a private folder for local files
  std::string tag;  // unique per cell
};

// A public operation: readies what its call needs, makes the call with the
// fault on, and afterwards (faults off) checks what a success claims or
// what a failure must leave alone.
class MatrixOperation {
 public:
  virtual ~MatrixOperation() = default;

  virtual bool https() const { return false; }
  virtual bool picture() const { return false; }
  // Faults off: stores what the call needs (an object to remove, a picture).
  virtual void Prepare(const CellEnv& /*env*/) {}
  // The object URL that the download and removal requests name, if any.
  virtual std::string ObjectUrl() const { return ""; }
  virtual bool Call(const CellEnv& env, ErrorState& error) = 0;
  // `replaced`: the body the fault sent in place of the object, or null.
  virtual void CheckSuccess(const CellEnv& env, const char* replaced) = 0;
  virtual void CheckFailure(const CellEnv& /*env*/) {}
  // The bytes any object (picture) that appears must hold; null for an
  // operation that stores none.
  virtual const std::string* Stored() const { return nullptr; }
};

std::unique_ptr<MatrixOperation> MakeOperation(Op op);

// Faults off: the whole object or picture at `url`, through a clean client.
bool ReadObject(Emulator& emulator, const std::string& url, std::string& bytes,
                bool picture = false);

}  // namespace orca_test

#endif  // ORCA_TEST_FAULTS_FAULTMATRIX_H_
