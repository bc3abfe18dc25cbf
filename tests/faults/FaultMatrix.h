// The fault matrix: every public operation against every fault the emulator
// can inject. A cell names the operation, the fault, the request of the
// operation that gets it, and the outcome the library must report.
#ifndef ORCA_TEST_FAULTS_FAULTMATRIX_H_
#define ORCA_TEST_FAULTS_FAULTMATRIX_H_

#include <cstdint>
#include <vector>

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
  kPictureDownload,
};

enum class Fault {
  kRefused,         // nothing listens on the ports
  kReset,           // connection reset before the answer
  kResetMidBody,    // reset after half the answer's body
  kStall,           // the answer stalls half-way (see kStallMs below)
  kShortBody,       // half the body of a full Content-Length, then close
  kChunked,         // the body chunked, without Content-Length
  k5xx,             // 503 with an XML error body
  kNotEnoughSpace,  // 500 naming NotEnoughSpace
  kMalformed,       // the body replaced by a broken XML/JSON document
  kEmpty,           // the body replaced by nothing
  kMissingHeader,   // a header field left out (Cell::header)
  kBadLocation,     // 302 to a Location of the wrong scheme (or without path)
  kLoopLocation,    // 302 to the very same URL, again and again
  kHugeBody,        // 500 with a 100 MiB error body
};

// The request of an operation that the fault hits.
enum class At {
  kAll,       // every request (connection refused)
  kBestNode,  // GET ?bestnode
  kPut,       // the object PUT on a data node
  kCreate,    // POST ?uploads
  kPart1,     // POST of part 1 (2, 3) on a data node
  kPart2,
  kPart3,
  kParts,        // every part POST
  kComplete,     // POST ?upload_id= (the completion)
  kGet,          // the object GET(s) on the download port (ranges included)
  kRedirected,   // the GET on a data node, after the download port redirected
  kMetadata,     // GET ?metadata
  kDelete,       // DELETE
  kVersion,      // GET /?version
  kPicBestNode,  // GET /QuarnBox/BestNode
  kPicWrite,     // POST /QuarnBox/Picture/Write
  kPicGet,       // picture GET on the gateway's download port
};

// Requests without a configurable time-out wait 60 s for a stalled answer,
// too long for CI: they get a stall shorter than that, which they must ride
// out (the cell expects success). The download requests that carry the
// client's time-outs (1 s here) get a stall far longer and must give up
// (the cell expects code 4).
inline constexpr int kShortStallMs = 1500;
inline constexpr int kLongStallMs = 30000;
inline constexpr uint32_t kClientTimeoutMs = 1000;

// What the operation must report. `code` 0 with `ok` false: a picture call
// (no error state). `body`: a download succeeds with exactly these bytes
// (what the fault sent in place of the object) instead of the object.
struct Expect {
  bool ok = true;
  int32_t code = 0;
  const char* message = "";  // GetLastError's message starts with this
  const char* body = nullptr;
};

struct Cell {
  Op op;
  Fault fault;
  At at;
  Expect expect;
  const char* header = "";  // kMissingHeader: the field left out
  bool once = false;        // the fault hits one request only (else every one)
  bool no_path = false;     // kBadLocation: a Location without a path
  int status = 0;           // kHugeBody: the answer's status (0: 500)
};

// What the malformed fault sends in place of an XML body.
inline constexpr char kBrokenXml[] = R"(<?xml version="1.0" encoding="UTF-8"?><BestNodeInfo><Loc)";

const std::vector<Cell>& MatrixCells();
const char* OpName(Op op);
const char* FaultName(Fault fault);
const char* AtName(At at);

}  // namespace orca_test

#endif  // ORCA_TEST_FAULTS_FAULTMATRIX_H_
