// The cells of the fault matrix, one block per operation, one line per cell.
//
// Reading the table: "Fails(code, message)" is the recorded error (message
// by its start); "Ok()" marks a fault the operation must survive: a chunked
// or unsized body is valid HTTP, a stall shorter than the 60 s default
// time-out of a request without configurable time-outs is ridden out, a PUT,
// part, removal or completion answer is judged by its status alone (its body
// is never read), and a download whose answer a malformed or empty fault
// replaced by a well-formed one hands back exactly what was sent.
// "PictureFails()": the picture client reports false and records nothing.
#include "FaultMatrix.h"

namespace orca_test {
namespace {

using F = Fault;
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
  std::vector<Fault> faults;
  Target at;
  Expect expect;
  Variant variant = Variant::kNone;
};

std::vector<Cell> Cells(const std::vector<Row>& rows) {
  std::vector<Cell> cells;
  for (const Row& row : rows) {
    for (const Fault fault : row.faults) {
      cells.push_back(Cell{fault, row.at, row.expect, row.variant});
    }
  }
  return cells;
}

constexpr Expect Ok() { return Expect{true, 0, ""}; }
constexpr Expect Fails(int32_t code, const char* message) { return Expect{false, code, message}; }
constexpr Expect PictureFails() { return Expect{false, 0, ""}; }

// Failures of the download requests, shared by the memory, ranged-memory and
// ranged-file downloads.
constexpr Expect kObjectMsgSendFailed = Fails(4, "SendObjectMsg msg failed[");
constexpr Expect kObjectMsgTimedOut = Fails(4, "SendObjectMsg msg failed[28:28].");
constexpr Expect kObjectBodyShort = Fails(5, "DownloadObject rsp body short[");
constexpr Expect kBigObjectSendFailed = Fails(4, "Send download big object msg failed[");

// Both removals.
std::vector<Row> Removal() {
  return {
      {{F::kRefused}, A::kAll, Fails(4, "send remove object failed[7:111].")},
      // Mid-body, the object was removed before the reset: the call fails, the object is gone.
      {{F::kReset, F::kResetMidBody}, A::kDelete, Fails(4, "send remove object failed[")},
      {{F::kStall, F::kShortBody, F::kChunked, F::kMalformed, F::kEmpty}, A::kDelete, Ok()},
      {{F::k5xx}, A::kDelete, Fails(5, "remove object rsp status code[503].")},
      {{F::kNotEnoughSpace, F::kHugeBody},
       A::kDelete,
       Fails(5, "remove object rsp status code[500].")},
      {{F::kMissingHeader}, A::kDelete, Ok(), V::kNoLength},
      {{F::kBadLocation, F::kLoopLocation},
       A::kDelete,
       Fails(5, "remove object rsp status code[302].")},
  };
}

std::vector<OpCells> BuildCells() {
  return {
      {Op::kUploadMemory, "UploadMemory",
       Cells({
           {{F::kRefused}, A::kAll, Fails(4, "Send get best node msg failed[7:111].")},
           {{F::kReset}, A::kPut, Fails(4, "Send upload object msg failed[")},
           {{F::kResetMidBody}, A::kBestNode, Fails(4, "Send get best node msg failed[")},
           {{F::kStall}, A::kPut, Ok()},
           {{F::kShortBody}, A::kBestNode, Fails(5, "get best node rsp msg invalid[")},
           {{F::kChunked}, A::kBestNode, Ok()},
           {{F::k5xx}, A::kPut, Fails(5, "upload object rsp status code[503].")},
           {{F::kNotEnoughSpace}, A::kPut, Fails(7, "upload object rsp status code[500].")},
           {{F::kMalformed}, A::kBestNode, Fails(5, "get best node rsp msg invalid[<?xml")},
           {{F::kEmpty}, A::kBestNode, Fails(5, "get best node rsp msg invalid[].")},
           {{F::kMissingHeader}, A::kPut, Ok(), V::kNoLength},
           {{F::kBadLocation}, A::kPut, Fails(5, "upload object rsp status code[302].")},
           {{F::kLoopLocation}, A::kBestNode, Fails(5, "get best node rsp status code[302].")},
           {{F::kHugeBody}, A::kPut, Fails(5, "upload object rsp status code[500].")},
           {{F::kHugeBody},
            A::kBestNode,
            Fails(5, "get best node rsp msg invalid["),
            V::kStatus200},
       })},
      {Op::kUploadFileSmall, "UploadFileSmall",
       Cells({
           {{F::kRefused}, A::kAll, Fails(4, "Send get best node msg failed[7:111].")},
           {{F::kReset}, A::kBestNode, Fails(4, "Send get best node msg failed[")},
           {{F::kResetMidBody}, A::kPut, Fails(4, "Send upload object msg failed[")},
           {{F::kStall}, A::kBestNode, Ok()},
           {{F::kShortBody, F::kChunked, F::kMalformed, F::kEmpty}, A::kPut, Ok()},
           {{F::k5xx}, A::kBestNode, Fails(5, "get best node rsp status code[503].")},
           {{F::kNotEnoughSpace}, A::kPut, Fails(7, "upload object rsp status code[500].")},
           {{F::kMissingHeader}, A::kBestNode, Ok(), V::kNoLength},
           {{F::kBadLocation}, A::kBestNode, Fails(5, "get best node rsp status code[302].")},
           {{F::kLoopLocation}, A::kPut, Fails(5, "upload object rsp status code[302].")},
           {{F::kHugeBody}, A::kBestNode, Fails(5, "get best node rsp status code[500].")},
       })},
      {Op::kUploadFileMultipart, "UploadFileMultipart",
       Cells({
           {{F::kRefused}, A::kAll, Fails(4, "Send get best node msg failed[7:111].")},
           {{F::kReset}, A::kPart2, Fails(4, "Send UploadPartObject msg failed[")},
           {{F::kReset}, A::kPart2, Ok(), V::kOnce},  // the part task's second attempt
           {{F::kResetMidBody}, A::kCreate, Fails(4, "Send CreatePartTask msg failed[")},
           {{F::kStall, F::kChunked}, A::kComplete, Ok()},
           {{F::kShortBody}, A::kCreate, Fails(5, "CreatePartTask rsp msg invalid[")},
           {{F::k5xx}, A::kComplete, Fails(5, "FinishPartTask rsp status code[503].")},
           {{F::k5xx}, A::kPart3, Ok(), V::kOnce},  // the part task's second attempt
           {{F::kNotEnoughSpace}, A::kPart3, Fails(7, "upload object rsp status code[500].")},
           {{F::kMalformed}, A::kCreate, Fails(5, "CreatePartTask rsp msg invalid[<?xml")},
           {{F::kEmpty}, A::kCreate, Fails(5, "CreatePartTask rsp msg invalid[].")},
           {{F::kMissingHeader}, A::kComplete, Ok(), V::kNoLength},
           {{F::kBadLocation}, A::kCreate, Fails(5, "CreatePartTask rsp status code[302].")},
           {{F::kLoopLocation}, A::kPart1, Fails(5, "UploadPartObject rsp status code[302].")},
           {{F::kHugeBody}, A::kPart2, Fails(5, "UploadPartObject rsp status code[500].")},
           {{F::kHugeBody}, A::kCreate, Fails(5, "CreatePartTask rsp msg invalid["), V::kStatus200},
       })},
      {Op::kPieces, "Pieces",
       Cells({
           {{F::kRefused}, A::kAll, Fails(4, "Send get best node msg failed[7:111].")},
           {{F::kReset}, A::kComplete, Fails(4, "Send FinishPartTask msg failed[")},
           {{F::kResetMidBody}, A::kPart2, Fails(4, "Send UploadPartObject msg failed[")},
           {{F::kStall}, A::kPart2, Ok()},
           {{F::kShortBody}, A::kBestNode, Fails(5, "get best node rsp msg invalid[")},
           {{F::kChunked}, A::kCreate, Ok()},
           {{F::k5xx}, A::kPart2, Fails(5, "UploadPartObject rsp status code[503].")},
           {{F::kNotEnoughSpace}, A::kComplete, Fails(7, "upload object rsp status code[500].")},
           {{F::kMalformed}, A::kBestNode, Fails(5, "get best node rsp msg invalid[<?xml")},
           {{F::kEmpty}, A::kCreate, Fails(5, "CreatePartTask rsp msg invalid[].")},
           {{F::kMissingHeader}, A::kParts, Ok(), V::kNoLength},
           {{F::kBadLocation}, A::kComplete, Fails(5, "FinishPartTask rsp status code[302].")},
           {{F::kLoopLocation}, A::kCreate, Fails(5, "CreatePartTask rsp status code[302].")},
           {{F::kHugeBody}, A::kCreate, Fails(5, "CreatePartTask rsp status code[500].")},
       })},
      {Op::kPiecesAloneStorage, "PiecesAloneStorage",
       Cells({
           {{F::kRefused}, A::kAll, Fails(4, "Send get best node msg failed[7:111].")},
           {{F::kReset}, A::kCreate, Fails(4, "Send CreatePartTask msg failed[")},
           // The completion was carried out before the reset: the object
           // is stored whole although the call fails.
           {{F::kResetMidBody}, A::kComplete, Fails(4, "Send FinishPartTask msg failed[")},
           {{F::kStall}, A::kCreate, Ok()},
           {{F::kShortBody, F::kMalformed, F::kEmpty}, A::kComplete, Ok()},
           {{F::kChunked}, A::kParts, Ok()},
           {{F::k5xx}, A::kCreate, Fails(5, "CreatePartTask rsp status code[503].")},
           {{F::kNotEnoughSpace}, A::kPart2, Fails(7, "upload object rsp status code[500].")},
           {{F::kMissingHeader}, A::kCreate, Ok(), V::kNoLength},
           {{F::kBadLocation}, A::kPart2, Fails(5, "UploadPartObject rsp status code[302].")},
           {{F::kLoopLocation}, A::kComplete, Fails(5, "FinishPartTask rsp status code[302].")},
           {{F::kHugeBody}, A::kBestNode, Fails(5, "get best node rsp status code[500].")},
       })},
      {Op::kPiecesAndFileName, "PiecesAndFileName",
       Cells({
           {{F::kRefused}, A::kAll, Fails(4, "Send get best node msg failed[7:111].")},
           {{F::kReset}, A::kBestNode, Fails(4, "Send get best node msg failed[")},
           {{F::kResetMidBody}, A::kCreate, Fails(4, "Send CreatePartTask msg failed[")},
           {{F::kStall}, A::kComplete, Ok()},
           {{F::kShortBody}, A::kCreate, Fails(5, "CreatePartTask rsp msg invalid[")},
           {{F::kChunked}, A::kBestNode, Ok()},
           {{F::k5xx}, A::kBestNode, Fails(5, "get best node rsp status code[503].")},
           {{F::kNotEnoughSpace}, A::kCreate, Fails(7, "upload object rsp status code[500].")},
           {{F::kMalformed}, A::kCreate, Fails(5, "CreatePartTask rsp msg invalid[<?xml")},
           {{F::kEmpty}, A::kBestNode, Fails(5, "get best node rsp msg invalid[].")},
           {{F::kMissingHeader}, A::kBestNode, Ok(), V::kNoLength},
           {{F::kBadLocation}, A::kCreate, Fails(5, "CreatePartTask rsp status code[302].")},
           {{F::kLoopLocation}, A::kPart1, Fails(5, "UploadPartObject rsp status code[302].")},
           {{F::kHugeBody}, A::kComplete, Fails(5, "FinishPartTask rsp status code[500].")},
       })},
      {Op::kDownloadMemory, "DownloadMemory",
       Cells({
           {{F::kRefused}, A::kAll, Fails(4, "SendObjectMsg msg failed[7:111].")},
           {{F::kReset, F::kResetMidBody}, A::kGet, kObjectMsgSendFailed},
           {{F::kStall}, A::kGet, kObjectMsgTimedOut},
           {{F::kShortBody}, A::kGet, kObjectBodyShort},
           {{F::kChunked, F::kMalformed, F::kEmpty}, A::kGet, Ok()},
           {{F::k5xx}, A::kGet, Fails(5, "DownloadObject rsp status code[503].")},
           {{F::kNotEnoughSpace, F::kHugeBody},
            A::kGet,
            Fails(5, "DownloadObject rsp status code[500].")},
           {{F::kMissingHeader}, A::kGet, Ok(), V::kNoLength},
           {{F::kBadLocation}, A::kGet, Fails(6, "redirect url error[https://")},
           {{F::kLoopLocation}, A::kGet, Fails(5, "DownloadObject rsp status code[302].")},
           // The redirected request: the same time-outs, no NoSuchKey reading.
           {{F::kReset}, A::kRedirected, kObjectMsgSendFailed},
           {{F::kStall}, A::kRedirected, kObjectMsgTimedOut},
           {{F::kShortBody}, A::kRedirected, kObjectBodyShort},
           {{F::k5xx}, A::kRedirected, Fails(5, "DownloadObject rsp status code[503].")},
       })},
      {Op::kDownloadRange, "DownloadRange",
       Cells({
           {{F::kRefused}, A::kAll, Fails(4, "SendObjectMsg msg failed[7:111].")},
           {{F::kReset, F::kResetMidBody}, A::kGet, kObjectMsgSendFailed},
           {{F::kStall}, A::kGet, kObjectMsgTimedOut},
           {{F::kShortBody}, A::kGet, kObjectBodyShort},
           {{F::kChunked, F::kMalformed, F::kEmpty}, A::kGet, Ok()},
           {{F::k5xx}, A::kGet, Fails(5, "DownloadObject rsp status code[503].")},
           {{F::kNotEnoughSpace, F::kHugeBody},
            A::kGet,
            Fails(5, "DownloadObject rsp status code[500].")},
           {{F::kMissingHeader}, A::kGet, Fails(6, "redirect url error[]."), V::kNoLocation},
           {{F::kBadLocation}, A::kGet, Fails(6, "redirect url error[http://"), V::kNoPath},
           {{F::kLoopLocation}, A::kGet, Fails(5, "DownloadObject rsp status code[302].")},
       })},
      {Op::kDownloadFileHttp, "DownloadFileHttp",
       Cells({
           {{F::kRefused}, A::kAll, Fails(4, "Send download big object msg failed[7:111].")},
           {{F::kReset, F::kResetMidBody, F::kShortBody}, A::kGet, kBigObjectSendFailed},
           {{F::kStall}, A::kGet, Fails(4, "Send download big object msg failed[28:28].")},
           {{F::kChunked, F::kMalformed, F::kEmpty}, A::kGet, Ok()},
           {{F::k5xx}, A::kGet, Fails(5, "DownloadBigObject rsp status code[503].")},
           {{F::kNotEnoughSpace, F::kHugeBody},
            A::kGet,
            Fails(5, "DownloadBigObject rsp status code[500].")},
           {{F::kMissingHeader}, A::kGet, Fails(6, "redirect url error[]."), V::kNoLocation},
           {{F::kBadLocation}, A::kGet, Fails(6, "redirect url error[https://")},
           {{F::kLoopLocation}, A::kGet, Fails(5, "DownloadBigObject rsp status code[302].")},
           // The redirected request carries no time-outs: a stall there is ridden out.
           {{F::kReset, F::kShortBody}, A::kRedirected, kBigObjectSendFailed},
           {{F::kStall}, A::kRedirected, Ok()},
           {{F::k5xx}, A::kRedirected, Fails(5, "DownloadBigObject rsp status code[503].")},
       })},
      {Op::kDownloadFileHttps, "DownloadFileHttps",
       Cells({
           // The metadata request fails too, and the object streams.
           {{F::kRefused}, A::kAll, Fails(4, "Send download big object msg failed[7:111].")},
           {{F::kReset, F::kResetMidBody}, A::kGet, kObjectMsgSendFailed},
           {{F::kStall}, A::kGet, kObjectMsgTimedOut},
           // A range answered by a document is shorter than its slice.
           {{F::kShortBody, F::kMalformed}, A::kGet, kObjectBodyShort},
           {{F::kChunked}, A::kGet, Ok()},
           {{F::k5xx}, A::kGet, Fails(5, "DownloadObject rsp status code[503].")},
           {{F::kNotEnoughSpace, F::kHugeBody},
            A::kGet,
            Fails(5, "DownloadObject rsp status code[500].")},
           {{F::kEmpty}, A::kGet, Fails(5, "DownloadObject rsp body short[0 of 1048576")},
           // Without Object-Size the object streams.
           {{F::kMissingHeader}, A::kMetadata, Ok(), V::kNoObjectSize},
           {{F::kBadLocation}, A::kGet, Fails(6, "redirect url error[http://")},
           {{F::kLoopLocation}, A::kGet, Fails(5, "DownloadObject rsp status code[302].")},
           {{F::kReset}, A::kRedirected, kObjectMsgSendFailed},
           {{F::kStall}, A::kRedirected, kObjectMsgTimedOut},
           {{F::k5xx}, A::kRedirected, Fails(5, "DownloadObject rsp status code[503].")},
       })},
      {Op::kRemove, "Remove", Cells(Removal())},
      {Op::kRemoveObjectFile, "RemoveObjectFile", Cells(Removal())},
      {Op::kVersion, "Version",
       Cells({
           {{F::kRefused}, A::kAll, Fails(4, "Send get storage version msg failed[7:111].")},
           {{F::kReset, F::kResetMidBody},
            A::kVersion,
            Fails(4, "Send get storage version msg failed[")},
           {{F::kStall, F::kChunked}, A::kVersion, Ok()},
           {{F::kShortBody}, A::kVersion, Fails(5, "get storage version rsp msg invalid[")},
           {{F::k5xx}, A::kVersion, Fails(5, "get storage version rsp status code[503].")},
           {{F::kNotEnoughSpace, F::kHugeBody},
            A::kVersion,
            Fails(5, "get storage version rsp status code[500].")},
           {{F::kMalformed}, A::kVersion, Fails(5, "get storage version rsp msg invalid[<?xml")},
           {{F::kEmpty}, A::kVersion, Fails(5, "get storage version rsp msg invalid[].")},
           {{F::kMissingHeader}, A::kVersion, Ok(), V::kNoLength},
           {{F::kBadLocation, F::kLoopLocation},
            A::kVersion,
            Fails(5, "get storage version rsp status code[302].")},
           {{F::kHugeBody},
            A::kVersion,
            Fails(5, "get storage version rsp msg invalid["),
            V::kStatus200},
       })},
      {Op::kPictureUpload, "PictureUpload",
       Cells({
           {{F::kRefused}, A::kAll, PictureFails()},
           // kEmpty: stored before the answer was emptied; the call fails (no URL).
           {{F::kReset, F::k5xx, F::kNotEnoughSpace, F::kEmpty, F::kBadLocation, F::kHugeBody},
            A::kPicWrite,
            PictureFails()},
           {{F::kResetMidBody, F::kShortBody, F::kMalformed, F::kLoopLocation},
            A::kPicBestNode,
            PictureFails()},
           {{F::kStall, F::kChunked}, A::kPicWrite, Ok()},
           {{F::kMissingHeader}, A::kPicBestNode, Ok(), V::kNoLength},
           {{F::kHugeBody}, A::kPicBestNode, PictureFails(), V::kStatus200},
           {{F::kHugeBody}, A::kPicWrite, PictureFails(), V::kStatus200},
       })},
      {Op::kPictureDownload, "PictureDownload",
       Cells({
           {{F::kRefused}, A::kAll, PictureFails()},
           {{F::kReset, F::kResetMidBody, F::kShortBody, F::k5xx, F::kNotEnoughSpace,
             F::kBadLocation, F::kLoopLocation, F::kHugeBody},
            A::kPicGet,
            PictureFails()},
           {{F::kStall, F::kChunked, F::kMalformed, F::kEmpty}, A::kPicGet, Ok()},
           {{F::kMissingHeader}, A::kPicGet, PictureFails(), V::kNoLocation},
           {{F::kReset, F::k5xx}, A::kRedirected, PictureFails()},
           {{F::kStall}, A::kRedirected, Ok()},
       })},
  };
}

}  // namespace

const std::vector<OpCells>& MatrixCells() {
  static const std::vector<OpCells> cells = BuildCells();
  return cells;
}

const char* FaultName(Fault fault) {
  static const char* const kNames[] = {
      "refused",        "reset",        "reset_mid_body",   "stall",     "short_body",
      "chunked",        "5xx",          "not_enough_space", "malformed", "empty",
      "missing_header", "bad_location", "loop_location",    "huge_body"};
  return kNames[static_cast<int>(fault)];
}

}  // namespace orca_test
