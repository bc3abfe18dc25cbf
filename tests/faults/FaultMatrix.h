// The fault matrix: every public operation against every fault the emulator
// can inject. A cell names the fault, the request of the operation that gets
// it, and the outcome the library must report (cells in FaultCells.cpp, the
// operations in MatrixOperations.cpp, the checks in MatrixHarness.cpp).
//
// Two columns: the client as configured by default (no retries), and the
// client with retries on (SetRetryPolicy(kRetryAttempts, kRetryBaseDelayMs)),
// where faults that stop after a request or two must be ridden out and
// faults that never stop must fail with their code once the tries are spent.
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

// The requests of an operation that a fault hits: the emulator's role,
// method and path glob ("" for the object URL the operation names).
struct Target {
  const char* name;
  const char* role;
  const char* method;
  const char* path;
};

// How a cell's fault departs from the emulator's plain one.
enum class Variant {
  kNone,
  kOnce,          // the fault hits one request only (else every one)
  kNoLength,      // missing_header: Content-Length
  kNoLocation,    // missing_header: Location (downloads are redirected)
  kNoObjectSize,  // missing_header: Object-Size
  kNoPath,        // bad_location: a Location without a path
  kStatus200,     // huge_body: status 200 where a small document is expected
  kNoSuchKey,     // status 404 answering NoSuchKey
  kNoSuchBucket,  // status 404 answering NoSuchBucket
};

// Requests without a configurable time-out wait 60 s for a stalled answer,
// too long for CI: they get a stall shorter than that, which they must ride
// out (the cell expects success). The download requests that carry the
// client's time-outs (1 s here) get a stall far longer and must give up.
inline constexpr int kShortStallMs = 1500;
inline constexpr int kLongStallMs = 30000;
inline constexpr uint32_t kClientTimeoutMs = 1000;

// The retry column's policy: four tries in all, waits of at most 10, 20, 40 ms.
inline constexpr uint32_t kRetryAttempts = 4;
inline constexpr uint32_t kRetryBaseDelayMs = 10;

inline constexpr char kBrokenXml[] = R"(<?xml version="1.0" encoding="UTF-8"?><BestNodeInfo><Loc)";

// What the operation must report: success, or false with `code` and an
// error message starting with `message` (code 0: a picture call, which
// records no error).
struct Expect {
  bool ok;
  int32_t code;
  std::string message;
};

// `fault`: an emulator fault kind ("status" answers `status`), or
// "refused": nothing listens on the ports (the upload and download ports;
// in the retry column they start to listen and relay once the client has
// logged `count` retries), or "bad_signature": no fault, the client signs
// with a wrong secret key (every request is answered 403).
struct Cell {
  std::string fault;
  Target at;
  Expect expect;
  Variant variant = Variant::kNone;
  // The retry column's fields.
  bool retries = false;  // the client retries with the column's policy
  int count = 0;         // requests the fault hits (0: kOnce one, else all)
  int status = 0;        // the status kind's answer (0: 503)
  // Each request that met the fault was sent this many times in all (0: not
  // checked): 1 for a request that must not be repeated. A reset one may go
  // out up to twice as often (the HTTP component's own resend).
  int tries = 0;
  // The retry asks only for the rest of the object: a Range from the bytes
  // already written (a streamed download to a file cut short).
  bool resumes = false;
};

struct OpCells {
  Op op;
  const char* name;
  std::vector<Cell> cells;
  std::vector<Cell> retried{};  // the retry column
};

const std::vector<OpCells>& MatrixCells();
// The retry column of `op` (FaultCells.cpp).
std::vector<Cell> RetryCells(Op op);
inline void PrintTo(const OpCells& op, std::ostream* out) { *out << op.name; }

// Runs `cell` of `op` with GoogleTest assertions (in time, the expected
// result and code, a success verified, a failure's out arguments untouched,
// no partial object visible, no secret leaked, heap growth bounded; with
// retries, well-formed retry records and the requests' tries); counts it in
// the totals (cells, passed, failed; faults survived per kind) printed at
// the end of the run.
void RunCell(const OpCells& op, const Cell& cell);

struct ErrorState {
  int32_t code = 0;
  std::string message;
};

// What one cell's call works with.
struct CellEnv {
  Emulator& emulator;
  Orca::CloudStorage::SStorageServerConfig config;  // dead ports: "refused"
  Orca::CloudStorage::SStorageServerInfo version_server;
  std::string dir;  // a private folder for local files
  std::string tag;  // unique per cell
  bool retries;     // the cell's client retries with the column's policy
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
  // The bytes any new object (picture) must hold; null: none may appear.
  virtual const std::string* Stored() const { return nullptr; }
};

std::unique_ptr<MatrixOperation> MakeOperation(Op op);

}  // namespace orca_test

#endif  // ORCA_TEST_FAULTS_FAULTMATRIX_H_
