// The cells of the fault matrix, one block per operation, one line per
// request and outcome. "Fails", "Status" and "Invalid" name the recorded
// error (its message by its start); "PictureFails()": false, nothing
// recorded. "Ok()": a fault the operation must survive: a chunked or unsized
// body is valid HTTP, a stall shorter than the 60 s default time-out is
// ridden out, a PUT, part, removal or completion answer is judged by its
// status alone, and a download whose answer a malformed or empty fault
// replaced by a well-formed one hands back exactly what was sent.
#include <iterator>
#include <string>

#include "FaultMatrix.h"

namespace orca_test {
namespace {

using V = Variant;

// The requests a fault hits ("" as the path: the object URL).
namespace A {
constexpr Target kAll{"all", "", "", "*"};  // connection refused
constexpr Target kBestNode{"bestnode", "upload", "GET", "*?bestnode"};
constexpr Target kPut{"put", "node", "PUT", "*"};
constexpr Target kCreate{"create", "upload", "POST", "*?uploads"};
constexpr Target kPart1{"part1", "node", "POST", "*&part_number=1"};
constexpr Target kPart2{"part2", "node", "POST", "*&part_number=2"};
constexpr Target kPart3{"part3", "node", "POST", "*&part_number=3"};
constexpr Target kParts{"parts", "node", "POST", "*"};
constexpr Target kComplete{"complete", "upload", "POST", "*?upload_id=*"};
constexpr Target kGet{"get", "download", "GET", ""};  // ranges included
constexpr Target kRedirected{"redirected", "node", "GET", ""};
constexpr Target kMetadata{"metadata", "download", "GET", "*?metadata"};
constexpr Target kDelete{"delete", "upload", "DELETE", "*"};
constexpr Target kVersion{"version", "upload", "GET", "/?version"};
constexpr Target kPicBestNode{"pic-bestnode", "gateway", "GET", "/QuarnBox/BestNode*"};
constexpr Target kPicWrite{"pic-write", "gateway", "POST", "/QuarnBox/Picture/Write"};
constexpr Target kPicGet{"pic-get", "gateway-download", "GET", "*"};
}  // namespace A

// Cells of one request and outcome.
struct Row {
  std::vector<const char*> faults;
  Target at;
  Expect expect;
  Variant variant = Variant::kNone;
};

std::vector<Cell> Cells(const std::vector<Row>& rows) {
  std::vector<Cell> cells;
  for (const Row& row : rows) {
    for (const char* fault : row.faults) {
      cells.push_back(Cell{fault, row.at, row.expect, row.variant});
    }
  }
  return cells;
}

Expect Ok() { return Expect{true, 0, ""}; }
Expect Fails(int32_t code, const std::string& message) { return Expect{false, code, message}; }
Expect PictureFails() { return Expect{false, 0, ""}; }
// A request answered with an unexpected status, or with a body it cannot read.
Expect Status(const std::string& request, int status, int32_t code = 5) {
  return Expect{false, code, request + " rsp status code[" + std::to_string(status) + "]."};
}
Expect Invalid(const std::string& request) { return Fails(5, request + " rsp msg invalid["); }

// Failures of the download requests, shared by the buffer and ranged downloads.
const Expect kObjectMsgSendFailed = Fails(4, "SendObjectMsg msg failed[");
const Expect kObjectMsgTimedOut = Fails(4, "SendObjectMsg msg failed[28:28].");
const Expect kObjectBodyShort = Fails(5, "DownloadObject rsp body short[");
const Expect kBigObjectSendFailed = Fails(4, "Send download big object msg failed[");

// Both removals.
std::vector<Row> Removal() {
  return {
      {{"refused"}, A::kAll, Fails(4, "send remove object failed[7:111].")},
      // Mid-body, the object was removed before the reset: the call fails, the object is gone.
      {{"reset", "reset_mid_body"}, A::kDelete, Fails(4, "send remove object failed[")},
      {{"stall", "short_body", "chunked", "malformed", "empty"}, A::kDelete, Ok()},
      {{"status"}, A::kDelete, Status("remove object", 503)},
      {{"not_enough_space", "huge_body"}, A::kDelete, Status("remove object", 500)},
      {{"missing_header"}, A::kDelete, Ok(), V::kNoLength},
      {{"bad_location", "loop_location"}, A::kDelete, Status("remove object", 302)},
  };
}

std::vector<OpCells> BuildCells() {
  return {
      {Op::kUploadMemory, "UploadMemory",
       Cells({
           {{"refused"}, A::kAll, Fails(4, "Send get best node msg failed[7:111].")},
           {{"reset"}, A::kPut, Fails(4, "Send upload object msg failed[")},
           {{"reset_mid_body"}, A::kBestNode, Fails(4, "Send get best node msg failed[")},
           {{"stall"}, A::kPut, Ok()},
           {{"short_body", "malformed", "empty"}, A::kBestNode, Invalid("get best node")},
           {{"chunked"}, A::kBestNode, Ok()},
           {{"status"}, A::kPut, Status("upload object", 503)},
           {{"not_enough_space"}, A::kPut, Status("upload object", 500, 7)},
           {{"missing_header"}, A::kPut, Ok(), V::kNoLength},
           {{"bad_location"}, A::kPut, Status("upload object", 302)},
           {{"loop_location"}, A::kBestNode, Status("get best node", 302)},
           {{"huge_body"}, A::kPut, Status("upload object", 500)},
           {{"huge_body"}, A::kBestNode, Invalid("get best node"), V::kStatus200},
       })},
      {Op::kUploadFileSmall, "UploadFileSmall",
       Cells({
           {{"refused"}, A::kAll, Fails(4, "Send get best node msg failed[7:111].")},
           {{"reset"}, A::kBestNode, Fails(4, "Send get best node msg failed[")},
           {{"reset_mid_body"}, A::kPut, Fails(4, "Send upload object msg failed[")},
           {{"stall"}, A::kBestNode, Ok()},
           {{"short_body", "chunked", "malformed", "empty"}, A::kPut, Ok()},
           {{"status"}, A::kBestNode, Status("get best node", 503)},
           {{"not_enough_space"}, A::kPut, Status("upload object", 500, 7)},
           {{"missing_header"}, A::kBestNode, Ok(), V::kNoLength},
           {{"bad_location"}, A::kBestNode, Status("get best node", 302)},
           {{"loop_location"}, A::kPut, Status("upload object", 302)},
           {{"huge_body"}, A::kBestNode, Status("get best node", 500)},
       })},
      {Op::kUploadFileMultipart, "UploadFileMultipart",
       Cells({
           {{"refused"}, A::kAll, Fails(4, "Send get best node msg failed[7:111].")},
           {{"reset"}, A::kPart2, Fails(4, "Send UploadPartObject msg failed[")},
           {{"reset"}, A::kPart2, Ok(), V::kOnce},  // the part task's second attempt
           {{"reset_mid_body"}, A::kCreate, Fails(4, "Send CreatePartTask msg failed[")},
           {{"stall", "chunked"}, A::kComplete, Ok()},
           {{"short_body", "malformed", "empty"}, A::kCreate, Invalid("CreatePartTask")},
           {{"status"}, A::kComplete, Status("FinishPartTask", 503)},
           {{"status"}, A::kPart3, Ok(), V::kOnce},  // the part task's second attempt
           {{"not_enough_space"}, A::kPart3, Status("upload object", 500, 7)},
           {{"missing_header"}, A::kComplete, Ok(), V::kNoLength},
           {{"bad_location"}, A::kCreate, Status("CreatePartTask", 302)},
           {{"loop_location"}, A::kPart1, Status("UploadPartObject", 302)},
           {{"huge_body"}, A::kPart2, Status("UploadPartObject", 500)},
           {{"huge_body"}, A::kCreate, Invalid("CreatePartTask"), V::kStatus200},
       })},
      {Op::kPieces, "Pieces",
       Cells({
           {{"refused"}, A::kAll, Fails(4, "Send get best node msg failed[7:111].")},
           {{"reset"}, A::kComplete, Fails(4, "Send FinishPartTask msg failed[")},
           {{"reset_mid_body"}, A::kPart2, Fails(4, "Send UploadPartObject msg failed[")},
           {{"stall"}, A::kPart2, Ok()},
           {{"short_body", "malformed"}, A::kBestNode, Invalid("get best node")},
           {{"chunked"}, A::kCreate, Ok()},
           {{"status"}, A::kPart2, Status("UploadPartObject", 503)},
           {{"not_enough_space"}, A::kComplete, Status("upload object", 500, 7)},
           {{"empty"}, A::kCreate, Invalid("CreatePartTask")},
           {{"missing_header"}, A::kParts, Ok(), V::kNoLength},
           {{"bad_location"}, A::kComplete, Status("FinishPartTask", 302)},
           {{"loop_location"}, A::kCreate, Status("CreatePartTask", 302)},
           {{"huge_body"}, A::kCreate, Status("CreatePartTask", 500)},
       })},
      {Op::kPiecesAloneStorage, "PiecesAloneStorage",
       Cells({
           {{"refused"}, A::kAll, Fails(4, "Send get best node msg failed[7:111].")},
           {{"reset"}, A::kCreate, Fails(4, "Send CreatePartTask msg failed[")},
           // The completion was carried out before the reset: the object
           // is stored whole although the call fails.
           {{"reset_mid_body"}, A::kComplete, Fails(4, "Send FinishPartTask msg failed[")},
           {{"stall"}, A::kCreate, Ok()},
           {{"short_body", "malformed", "empty"}, A::kComplete, Ok()},
           {{"chunked"}, A::kParts, Ok()},
           {{"status"}, A::kCreate, Status("CreatePartTask", 503)},
           {{"not_enough_space"}, A::kPart2, Status("upload object", 500, 7)},
           {{"missing_header"}, A::kCreate, Ok(), V::kNoLength},
           {{"bad_location"}, A::kPart2, Status("UploadPartObject", 302)},
           {{"loop_location"}, A::kComplete, Status("FinishPartTask", 302)},
           {{"huge_body"}, A::kBestNode, Status("get best node", 500)},
       })},
      {Op::kPiecesAndFileName, "PiecesAndFileName",
       Cells({
           {{"refused"}, A::kAll, Fails(4, "Send get best node msg failed[7:111].")},
           {{"reset"}, A::kBestNode, Fails(4, "Send get best node msg failed[")},
           {{"reset_mid_body"}, A::kCreate, Fails(4, "Send CreatePartTask msg failed[")},
           {{"stall"}, A::kComplete, Ok()},
           {{"short_body", "malformed"}, A::kCreate, Invalid("CreatePartTask")},
           {{"chunked"}, A::kBestNode, Ok()},
           {{"status"}, A::kBestNode, Status("get best node", 503)},
           {{"not_enough_space"}, A::kCreate, Status("upload object", 500, 7)},
           {{"empty"}, A::kBestNode, Invalid("get best node")},
           {{"missing_header"}, A::kBestNode, Ok(), V::kNoLength},
           {{"bad_location"}, A::kCreate, Status("CreatePartTask", 302)},
           {{"loop_location"}, A::kPart1, Status("UploadPartObject", 302)},
           {{"huge_body"}, A::kComplete, Status("FinishPartTask", 500)},
       })},
      {Op::kDownloadMemory, "DownloadMemory",
       Cells({
           {{"refused"}, A::kAll, Fails(4, "SendObjectMsg msg failed[7:111].")},
           {{"reset", "reset_mid_body"}, A::kGet, kObjectMsgSendFailed},
           {{"stall"}, A::kGet, kObjectMsgTimedOut},
           {{"short_body"}, A::kGet, kObjectBodyShort},
           {{"chunked", "malformed", "empty"}, A::kGet, Ok()},
           {{"status"}, A::kGet, Status("DownloadObject", 503)},
           {{"not_enough_space", "huge_body"}, A::kGet, Status("DownloadObject", 500)},
           {{"missing_header"}, A::kGet, Ok(), V::kNoLength},
           {{"bad_location"}, A::kGet, Fails(6, "redirect url error[https://")},
           {{"loop_location"}, A::kGet, Status("DownloadObject", 302)},
           // The redirected request: the same time-outs, no NoSuchKey reading.
           {{"reset"}, A::kRedirected, kObjectMsgSendFailed},
           {{"stall"}, A::kRedirected, kObjectMsgTimedOut},
           {{"short_body"}, A::kRedirected, kObjectBodyShort},
           {{"status"}, A::kRedirected, Status("DownloadObject", 503)},
       })},
      {Op::kDownloadRange, "DownloadRange",
       Cells({
           {{"refused"}, A::kAll, Fails(4, "SendObjectMsg msg failed[7:111].")},
           {{"reset", "reset_mid_body"}, A::kGet, kObjectMsgSendFailed},
           {{"stall"}, A::kGet, kObjectMsgTimedOut},
           {{"short_body"}, A::kGet, kObjectBodyShort},
           {{"chunked", "malformed", "empty"}, A::kGet, Ok()},
           {{"status"}, A::kGet, Status("DownloadObject", 503)},
           {{"not_enough_space", "huge_body"}, A::kGet, Status("DownloadObject", 500)},
           {{"missing_header"}, A::kGet, Fails(6, "redirect url error[]."), V::kNoLocation},
           {{"bad_location"}, A::kGet, Fails(6, "redirect url error[http://"), V::kNoPath},
           {{"loop_location"}, A::kGet, Status("DownloadObject", 302)},
       })},
      {Op::kDownloadFileHttp, "DownloadFileHttp",
       Cells({
           {{"refused"}, A::kAll, Fails(4, "Send download big object msg failed[7:111].")},
           {{"reset", "reset_mid_body", "short_body"}, A::kGet, kBigObjectSendFailed},
           {{"stall"}, A::kGet, Fails(4, "Send download big object msg failed[28:28].")},
           {{"chunked", "malformed", "empty"}, A::kGet, Ok()},
           {{"status"}, A::kGet, Status("DownloadBigObject", 503)},
           {{"not_enough_space", "huge_body"}, A::kGet, Status("DownloadBigObject", 500)},
           {{"missing_header"}, A::kGet, Fails(6, "redirect url error[]."), V::kNoLocation},
           {{"bad_location"}, A::kGet, Fails(6, "redirect url error[https://")},
           {{"loop_location"}, A::kGet, Status("DownloadBigObject", 302)},
           // The redirected request carries no time-outs: a stall there is ridden out.
           {{"reset", "short_body"}, A::kRedirected, kBigObjectSendFailed},
           {{"stall"}, A::kRedirected, Ok()},
           {{"status"}, A::kRedirected, Status("DownloadBigObject", 503)},
       })},
      {Op::kDownloadFileHttps, "DownloadFileHttps",
       Cells({
           // The metadata request fails too, and the object streams.
           {{"refused"}, A::kAll, Fails(4, "Send download big object msg failed[7:111].")},
           {{"reset", "reset_mid_body"}, A::kGet, kObjectMsgSendFailed},
           {{"stall"}, A::kGet, kObjectMsgTimedOut},
           // A range answered by a document is shorter than its slice.
           {{"short_body", "malformed", "empty"}, A::kGet, kObjectBodyShort},
           {{"chunked"}, A::kGet, Ok()},
           {{"status"}, A::kGet, Status("DownloadObject", 503)},
           {{"not_enough_space", "huge_body"}, A::kGet, Status("DownloadObject", 500)},
           // Without Object-Size the object streams.
           {{"missing_header"}, A::kMetadata, Ok(), V::kNoObjectSize},
           {{"bad_location"}, A::kGet, Fails(6, "redirect url error[http://")},
           {{"loop_location"}, A::kGet, Status("DownloadObject", 302)},
           {{"reset"}, A::kRedirected, kObjectMsgSendFailed},
           {{"stall"}, A::kRedirected, kObjectMsgTimedOut},
           {{"status"}, A::kRedirected, Status("DownloadObject", 503)},
       })},
      {Op::kRemove, "Remove", Cells(Removal())},
      {Op::kRemoveObjectFile, "RemoveObjectFile", Cells(Removal())},
      {Op::kVersion, "Version",
       Cells({
           {{"refused"}, A::kAll, Fails(4, "Send get storage version msg failed[7:111].")},
           {{"reset", "reset_mid_body"},
            A::kVersion,
            Fails(4, "Send get storage version msg failed[")},
           {{"stall", "chunked"}, A::kVersion, Ok()},
           {{"short_body", "malformed", "empty"}, A::kVersion, Invalid("get storage version")},
           {{"status"}, A::kVersion, Status("get storage version", 503)},
           {{"not_enough_space", "huge_body"}, A::kVersion, Status("get storage version", 500)},
           {{"missing_header"}, A::kVersion, Ok(), V::kNoLength},
           {{"bad_location", "loop_location"}, A::kVersion, Status("get storage version", 302)},
           {{"huge_body"}, A::kVersion, Invalid("get storage version"), V::kStatus200},
       })},
      {Op::kPictureUpload, "PictureUpload",
       Cells({
           {{"refused"}, A::kAll, PictureFails()},
           // empty: stored before the answer was emptied; the call fails (no URL).
           {{"reset", "status", "not_enough_space", "empty", "bad_location", "huge_body"},
            A::kPicWrite,
            PictureFails()},
           {{"reset_mid_body", "short_body", "malformed", "loop_location"},
            A::kPicBestNode,
            PictureFails()},
           {{"stall", "chunked"}, A::kPicWrite, Ok()},
           {{"missing_header"}, A::kPicBestNode, Ok(), V::kNoLength},
           {{"huge_body"}, A::kPicBestNode, PictureFails(), V::kStatus200},
           {{"huge_body"}, A::kPicWrite, PictureFails(), V::kStatus200},
       })},
      {Op::kPictureDownload, "PictureDownload",
       Cells({
           {{"refused"}, A::kAll, PictureFails()},
           {{"reset", "reset_mid_body", "short_body", "status", "not_enough_space", "bad_location",
             "loop_location", "huge_body"},
            A::kPicGet,
            PictureFails()},
           {{"stall", "chunked", "malformed", "empty"}, A::kPicGet, Ok()},
           {{"missing_header"}, A::kPicGet, PictureFails(), V::kNoLocation},
           {{"reset", "status"}, A::kRedirected, PictureFails()},
           {{"stall"}, A::kRedirected, Ok()},
       })},
  };
}

// The retry column. Transient faults stop after one or two requests (every
// other cell: two); each hits every request of the operation in turn, the
// four retried statuses spread over the requests. The operation must ride
// them out, except a picture WRITE, which is never repeated: it fails, sent
// once. Permanent faults never stop, or answer what no retry changes; the
// operation fails with their code, the request sent `tries` times in all.

// The requests of one operation and its permanent faults.
struct RetryOp {
  Op op;
  std::vector<Target> requests;  // every transient fault hits each one
  std::vector<Target> timed;     // requests with the client's time-outs: a stall times out
  std::vector<Cell> permanent;
  bool resumes = false;  // a body cut short is resumed from the bytes written
};

constexpr int kForever = 1000;
constexpr int kRetriedStatuses[] = {500, 502, 503, 504};
constexpr const char* kTransportKinds[] = {"reset", "reset_mid_body", "short_body"};

Cell Retried(const char* fault, const Target& at, const Expect& expect, int count, int tries = 0,
             int status = 0, Variant variant = V::kNone) {
  return Cell{fault, at, expect, variant, true, count, status, tries};
}
// A fault that never stops, met by each try.
Cell Forever(const char* fault, const Target& at, const Expect& expect, int tries) {
  return Retried(fault, at, expect, kForever, tries, fault == std::string("status") ? 503 : 0);
}
// A 404 that names what is missing: never retried.
Cell Missing(Variant variant, const Target& at, const Expect& expect) {
  return Retried("status", at, expect, kForever, 1, 404, variant);
}
Cell BadSignature(const Expect& expect) { return Retried("bad_signature", A::kAll, expect, 0, 1); }
Cell RefusedForever(const Expect& expect) { return Retried("refused", A::kAll, expect, kForever); }

std::vector<Cell> Transient(const RetryOp& op) {
  std::vector<Cell> cells;
  const auto add = [&](const char* fault, const Target& at, int status = 0) {
    const int count = 1 + static_cast<int>(cells.size() % 2);
    const bool write = std::string(at.name) == A::kPicWrite.name;
    cells.push_back(
        Retried(fault, at, write ? PictureFails() : Ok(), count, write ? 1 : 0, status));
  };
  for (size_t i = 0; i < std::size(kRetriedStatuses); ++i) {
    add("status", op.requests[i % op.requests.size()], kRetriedStatuses[i]);
  }
  for (const char* kind : kTransportKinds) {
    for (const Target& at : op.requests) {
      add(kind, at);
      // Reset mid-body, the bytes received may be lost with the connection.
      cells.back().resumes = op.resumes && kind == std::string("short_body");
    }
  }
  for (const Target& at : op.timed) add("stall", at);
  add("refused", A::kAll);
  return cells;
}

std::vector<Cell> RemovalForever() {
  return {
      BadSignature(Status("remove object", 403)),
      Forever("status", A::kDelete, Status("remove object", 503), 4),
      Forever("reset", A::kDelete, Fails(4, "send remove object failed["), 4),
      Missing(V::kNoSuchKey, A::kDelete, Status("remove object", 404)),
      RefusedForever(Fails(4, "send remove object failed[7:111].")),
  };
}

const Expect kBestNodeRefused = Fails(4, "Send get best node msg failed[7:111].");
const std::vector<Target> kMultipartRequests = {A::kBestNode, A::kCreate, A::kParts, A::kComplete};

std::vector<RetryOp> BuildRetryOps() {
  return {
      {Op::kUploadMemory,
       {A::kBestNode, A::kPut},
       {},
       {
           BadSignature(Status("get best node", 403)),
           Forever("status", A::kPut, Status("upload object", 503), 4),
           Forever("reset", A::kBestNode, Fails(4, "Send get best node msg failed["), 4),
           Missing(V::kNoSuchBucket, A::kBestNode, Status("get best node", 404)),
           RefusedForever(kBestNodeRefused),
       }},
      {Op::kUploadFileSmall,
       {A::kBestNode, A::kPut},
       {},
       {
           BadSignature(Status("get best node", 403)),
           Forever("status", A::kBestNode, Status("get best node", 503), 4),
           Forever("reset", A::kPut, Fails(4, "Send upload object msg failed["), 4),
           Missing(V::kNoSuchBucket, A::kPut, Status("upload object", 404)),
           RefusedForever(kBestNodeRefused),
       }},
      {Op::kUploadFileMultipart,
       kMultipartRequests,
       {},
       {
           BadSignature(Status("get best node", 403)),
           Forever("status", A::kComplete, Status("FinishPartTask", 503), 4),
           // Each of the part task's three attempts tries the request four times.
           Forever("reset", A::kPart2, Fails(4, "Send UploadPartObject msg failed["), 12),
           Missing(V::kNoSuchBucket, A::kCreate, Status("CreatePartTask", 404)),
           RefusedForever(kBestNodeRefused),
       }},
      {Op::kPieces,
       kMultipartRequests,
       {},
       {
           BadSignature(Status("get best node", 403)),
           Forever("status", A::kParts, Status("UploadPartObject", 503), 4),
           Forever("reset", A::kComplete, Fails(4, "Send FinishPartTask msg failed["), 4),
           Missing(V::kNoSuchBucket, A::kBestNode, Status("get best node", 404)),
           RefusedForever(kBestNodeRefused),
       }},
      {Op::kPiecesAloneStorage,
       kMultipartRequests,
       {},
       {
           BadSignature(Status("get best node", 403)),
           Forever("status", A::kCreate, Status("CreatePartTask", 503), 4),
           Forever("reset", A::kParts, Fails(4, "Send UploadPartObject msg failed["), 4),
           Missing(V::kNoSuchBucket, A::kComplete, Status("FinishPartTask", 404)),
           RefusedForever(kBestNodeRefused),
       }},
      {Op::kPiecesAndFileName,
       kMultipartRequests,
       {},
       {
           BadSignature(Status("get best node", 403)),
           Forever("status", A::kBestNode, Status("get best node", 503), 4),
           Forever("reset", A::kCreate, Fails(4, "Send CreatePartTask msg failed["), 4),
           Missing(V::kNoSuchBucket, A::kParts, Status("UploadPartObject", 404)),
           RefusedForever(kBestNodeRefused),
       }},
      {Op::kDownloadMemory,
       {A::kGet, A::kRedirected},
       {A::kGet, A::kRedirected},
       {
           BadSignature(Status("DownloadObject", 403)),
           Forever("status", A::kGet, Status("DownloadObject", 503), 4),
           Forever("reset", A::kRedirected, kObjectMsgSendFailed, 0),
           Missing(V::kNoSuchKey, A::kGet, Fails(9, "NoSuchKey")),
           RefusedForever(Fails(4, "SendObjectMsg msg failed[7:111].")),
       }},
      {Op::kDownloadRange,
       {A::kGet, A::kRedirected},
       {A::kGet},
       {
           BadSignature(Status("DownloadObject", 403)),
           Forever("status", A::kRedirected, Status("DownloadObject", 503), 0),
           Forever("reset", A::kGet, kObjectMsgSendFailed, 4),
           Missing(V::kNoSuchBucket, A::kGet, Fails(8, "NoSuchBucket")),
           RefusedForever(Fails(4, "SendObjectMsg msg failed[7:111].")),
       }},
      {Op::kDownloadFileHttp,
       {A::kGet, A::kRedirected},
       {A::kGet},
       {
           BadSignature(Status("DownloadBigObject", 403)),
           Forever("status", A::kRedirected, Status("DownloadBigObject", 503), 0),
           Forever("reset", A::kGet, kBigObjectSendFailed, 4),
           Missing(V::kNoSuchKey, A::kGet, Status("DownloadBigObject", 404)),
           RefusedForever(Fails(4, "Send download big object msg failed[7:111].")),
       },
       true},
      {Op::kDownloadFileHttps,
       {A::kMetadata, A::kGet, A::kRedirected},
       {A::kGet, A::kRedirected},
       {
           BadSignature(Status("DownloadBigObject", 403)),
           // Ranges in flight together: each that meets it stops when one fails.
           Forever("status", A::kGet, Status("DownloadObject", 503), 0),
           // Without its size the object streams.
           Forever("reset", A::kMetadata, Ok(), 4),
           Missing(V::kNoSuchKey, A::kGet, Fails(9, "NoSuchKey")),
           RefusedForever(Fails(4, "Send download big object msg failed[7:111].")),
       }},
      {Op::kRemove, {A::kDelete}, {}, RemovalForever()},
      {Op::kRemoveObjectFile, {A::kDelete}, {}, RemovalForever()},
      {Op::kVersion,
       {A::kVersion},
       {},
       {
           BadSignature(Status("get storage version", 403)),
           Forever("status", A::kVersion, Status("get storage version", 503), 4),
           Forever("reset", A::kVersion, Fails(4, "Send get storage version msg failed["), 4),
           Missing(V::kNoSuchKey, A::kVersion, Status("get storage version", 404)),
           RefusedForever(Fails(4, "Send get storage version msg failed[7:111].")),
       }},
      {Op::kPictureUpload,
       {A::kPicBestNode, A::kPicWrite},
       {},
       {
           BadSignature(PictureFails()),
           Forever("status", A::kPicBestNode, PictureFails(), 4),
           Forever("reset", A::kPicBestNode, PictureFails(), 4),
           Missing(V::kNoSuchBucket, A::kPicBestNode, PictureFails()),
           RefusedForever(PictureFails()),
       }},
      {Op::kPictureDownload,
       {A::kPicGet, A::kRedirected},
       {},
       {
           BadSignature(PictureFails()),
           Forever("status", A::kPicGet, PictureFails(), 4),
           Forever("reset", A::kRedirected, PictureFails(), 0),
           Missing(V::kNoSuchKey, A::kPicGet, PictureFails()),
           RefusedForever(PictureFails()),
       }},
  };
}

}  // namespace

std::vector<Cell> RetryCells(Op op) {
  static const std::vector<RetryOp> ops = BuildRetryOps();
  for (const RetryOp& retry : ops) {
    if (retry.op != op) continue;
    std::vector<Cell> cells = Transient(retry);
    cells.insert(cells.end(), retry.permanent.begin(), retry.permanent.end());
    return cells;
  }
  return {};
}

const std::vector<OpCells>& MatrixCells() {
  static const std::vector<OpCells> cells = [] {
    std::vector<OpCells> ops = BuildCells();
    for (OpCells& op : ops) op.retried = RetryCells(op.op);
    return ops;
  }();
  return cells;
}

}  // namespace orca_test
