// The cells of the fault matrix, one block per operation, one line per fault.
//
// Reading the table: "Fails(code, message)" is the recorded error (message
// by its start); "Ok()" marks a fault the operation must survive: a chunked
// or unsized body is valid HTTP, a stall shorter than the 60 s default
// time-out of a request without configurable time-outs is ridden out, and a
// PUT, part, removal or completion answer is judged by its status alone (its
// body is never read). "OkWith(body)" is a download whose answer was replaced
// by a well-formed one: the library hands back exactly what was sent.
// "PictureFails()": the picture client reports false and records nothing.
// Besides the 100 MiB error bodies, answers of 100 MiB with status 200 go to
// the requests whose answer is read as a document (Status200).
#include "FaultMatrix.h"

namespace orca_test {
namespace {

using A = At;
using F = Fault;

constexpr Expect Ok() { return Expect{}; }
constexpr Expect OkWith(const char* body) { return Expect{true, 0, "", body}; }
constexpr Expect Fails(int32_t code, const char* message) { return Expect{false, code, message}; }
constexpr Expect PictureFails() { return Expect{false, 0, ""}; }

struct Entry {
  Fault fault;
  At at;
  Expect expect;
  const char* header = "";
  bool once = false;
  bool no_path = false;
  int status = 0;
};

// Modifiers of an entry.
Entry Without(const char* header, Entry e) {
  e.header = header;
  return e;
}
Entry Once(Entry e) {
  e.once = true;
  return e;
}
Entry NoPath(Entry e) {
  e.no_path = true;
  return e;
}
// A 100 MiB answer with status 200 where a small document is expected.
Entry Status200(Entry e) {
  e.status = 200;
  return e;
}

void AddOp(std::vector<Cell>& cells, Op op, std::initializer_list<Entry> entries) {
  for (const Entry& e : entries) {
    cells.push_back(Cell{op, e.fault, e.at, e.expect, e.header, e.once, e.no_path, e.status});
  }
}

// Failures of the download requests, shared by the memory, ranged-memory and
// ranged-file downloads.
constexpr Expect kObjectMsgSendFailed = Fails(4, "SendObjectMsg msg failed[");
constexpr Expect kObjectMsgTimedOut = Fails(4, "SendObjectMsg msg failed[28:28].");
constexpr Expect kObjectBodyShort = Fails(5, "DownloadObject rsp body short[");
constexpr Expect kBigObjectSendFailed = Fails(4, "Send download big object msg failed[");

std::vector<Cell> BuildCells() {
  std::vector<Cell> cells;
  AddOp(cells, Op::kUploadMemory,
        {
            {F::kRefused, A::kAll, Fails(4, "Send get best node msg failed[7:111].")},
            {F::kReset, A::kPut, Fails(4, "Send upload object msg failed[")},
            {F::kResetMidBody, A::kBestNode, Fails(4, "Send get best node msg failed[")},
            {F::kStall, A::kPut, Ok()},
            {F::kShortBody, A::kBestNode, Fails(5, "get best node rsp msg invalid[")},
            {F::kChunked, A::kBestNode, Ok()},
            {F::k5xx, A::kPut, Fails(5, "upload object rsp status code[503].")},
            {F::kNotEnoughSpace, A::kPut, Fails(7, "upload object rsp status code[500].")},
            {F::kMalformed, A::kBestNode, Fails(5, "get best node rsp msg invalid[<?xml")},
            {F::kEmpty, A::kBestNode, Fails(5, "get best node rsp msg invalid[].")},
            Without("Content-Length", {F::kMissingHeader, A::kPut, Ok()}),
            {F::kBadLocation, A::kPut, Fails(5, "upload object rsp status code[302].")},
            {F::kLoopLocation, A::kBestNode, Fails(5, "get best node rsp status code[302].")},
            {F::kHugeBody, A::kPut, Fails(5, "upload object rsp status code[500].")},
            Status200({F::kHugeBody, A::kBestNode, Fails(5, "get best node rsp msg invalid[")}),
        });
  AddOp(cells, Op::kUploadFileSmall,
        {
            {F::kRefused, A::kAll, Fails(4, "Send get best node msg failed[7:111].")},
            {F::kReset, A::kBestNode, Fails(4, "Send get best node msg failed[")},
            {F::kResetMidBody, A::kPut, Fails(4, "Send upload object msg failed[")},
            {F::kStall, A::kBestNode, Ok()},
            {F::kShortBody, A::kPut, Ok()},
            {F::kChunked, A::kPut, Ok()},
            {F::k5xx, A::kBestNode, Fails(5, "get best node rsp status code[503].")},
            {F::kNotEnoughSpace, A::kPut, Fails(7, "upload object rsp status code[500].")},
            {F::kMalformed, A::kPut, Ok()},
            {F::kEmpty, A::kPut, Ok()},
            Without("Content-Length", {F::kMissingHeader, A::kBestNode, Ok()}),
            {F::kBadLocation, A::kBestNode, Fails(5, "get best node rsp status code[302].")},
            {F::kLoopLocation, A::kPut, Fails(5, "upload object rsp status code[302].")},
            {F::kHugeBody, A::kBestNode, Fails(5, "get best node rsp status code[500].")},
        });
  AddOp(cells, Op::kUploadFileMultipart,
        {
            {F::kRefused, A::kAll, Fails(4, "Send get best node msg failed[7:111].")},
            {F::kReset, A::kPart2, Fails(4, "Send UploadPartObject msg failed[")},
            Once({F::kReset, A::kPart2, Ok()}),  // the part task's second attempt
            {F::kResetMidBody, A::kCreate, Fails(4, "Send CreatePartTask msg failed[")},
            {F::kStall, A::kComplete, Ok()},
            {F::kShortBody, A::kCreate, Fails(5, "CreatePartTask rsp msg invalid[")},
            {F::kChunked, A::kComplete, Ok()},
            {F::k5xx, A::kComplete, Fails(5, "FinishPartTask rsp status code[503].")},
            Once({F::k5xx, A::kPart3, Ok()}),  // the part task's second attempt
            {F::kNotEnoughSpace, A::kPart3, Fails(7, "upload object rsp status code[500].")},
            {F::kMalformed, A::kCreate, Fails(5, "CreatePartTask rsp msg invalid[<?xml")},
            {F::kEmpty, A::kCreate, Fails(5, "CreatePartTask rsp msg invalid[].")},
            Without("Content-Length", {F::kMissingHeader, A::kComplete, Ok()}),
            {F::kBadLocation, A::kCreate, Fails(5, "CreatePartTask rsp status code[302].")},
            {F::kLoopLocation, A::kPart1, Fails(5, "UploadPartObject rsp status code[302].")},
            {F::kHugeBody, A::kPart2, Fails(5, "UploadPartObject rsp status code[500].")},
            Status200({F::kHugeBody, A::kCreate, Fails(5, "CreatePartTask rsp msg invalid[")}),
        });
  AddOp(cells, Op::kPieces,
        {
            {F::kRefused, A::kAll, Fails(4, "Send get best node msg failed[7:111].")},
            {F::kReset, A::kComplete, Fails(4, "Send FinishPartTask msg failed[")},
            {F::kResetMidBody, A::kPart2, Fails(4, "Send UploadPartObject msg failed[")},
            {F::kStall, A::kPart2, Ok()},
            {F::kShortBody, A::kBestNode, Fails(5, "get best node rsp msg invalid[")},
            {F::kChunked, A::kCreate, Ok()},
            {F::k5xx, A::kPart2, Fails(5, "UploadPartObject rsp status code[503].")},
            {F::kNotEnoughSpace, A::kComplete, Fails(7, "upload object rsp status code[500].")},
            {F::kMalformed, A::kBestNode, Fails(5, "get best node rsp msg invalid[<?xml")},
            {F::kEmpty, A::kCreate, Fails(5, "CreatePartTask rsp msg invalid[].")},
            Without("Content-Length", {F::kMissingHeader, A::kParts, Ok()}),
            {F::kBadLocation, A::kComplete, Fails(5, "FinishPartTask rsp status code[302].")},
            {F::kLoopLocation, A::kCreate, Fails(5, "CreatePartTask rsp status code[302].")},
            {F::kHugeBody, A::kCreate, Fails(5, "CreatePartTask rsp status code[500].")},
        });
  AddOp(cells, Op::kPiecesAloneStorage,
        {
            {F::kRefused, A::kAll, Fails(4, "Send get best node msg failed[7:111].")},
            {F::kReset, A::kCreate, Fails(4, "Send CreatePartTask msg failed[")},
            // The completion was carried out before the reset: the object
            // is stored whole although the call fails.
            {F::kResetMidBody, A::kComplete, Fails(4, "Send FinishPartTask msg failed[")},
            {F::kStall, A::kCreate, Ok()},
            {F::kShortBody, A::kComplete, Ok()},
            {F::kChunked, A::kParts, Ok()},
            {F::k5xx, A::kCreate, Fails(5, "CreatePartTask rsp status code[503].")},
            {F::kNotEnoughSpace, A::kPart2, Fails(7, "upload object rsp status code[500].")},
            {F::kMalformed, A::kComplete, Ok()},
            {F::kEmpty, A::kComplete, Ok()},
            Without("Content-Length", {F::kMissingHeader, A::kCreate, Ok()}),
            {F::kBadLocation, A::kPart2, Fails(5, "UploadPartObject rsp status code[302].")},
            {F::kLoopLocation, A::kComplete, Fails(5, "FinishPartTask rsp status code[302].")},
            {F::kHugeBody, A::kBestNode, Fails(5, "get best node rsp status code[500].")},
        });
  AddOp(cells, Op::kPiecesAndFileName,
        {
            {F::kRefused, A::kAll, Fails(4, "Send get best node msg failed[7:111].")},
            {F::kReset, A::kBestNode, Fails(4, "Send get best node msg failed[")},
            {F::kResetMidBody, A::kCreate, Fails(4, "Send CreatePartTask msg failed[")},
            {F::kStall, A::kComplete, Ok()},
            {F::kShortBody, A::kCreate, Fails(5, "CreatePartTask rsp msg invalid[")},
            {F::kChunked, A::kBestNode, Ok()},
            {F::k5xx, A::kBestNode, Fails(5, "get best node rsp status code[503].")},
            {F::kNotEnoughSpace, A::kCreate, Fails(7, "upload object rsp status code[500].")},
            {F::kMalformed, A::kCreate, Fails(5, "CreatePartTask rsp msg invalid[<?xml")},
            {F::kEmpty, A::kBestNode, Fails(5, "get best node rsp msg invalid[].")},
            Without("Content-Length", {F::kMissingHeader, A::kBestNode, Ok()}),
            {F::kBadLocation, A::kCreate, Fails(5, "CreatePartTask rsp status code[302].")},
            {F::kLoopLocation, A::kPart1, Fails(5, "UploadPartObject rsp status code[302].")},
            {F::kHugeBody, A::kComplete, Fails(5, "FinishPartTask rsp status code[500].")},
        });
  AddOp(cells, Op::kDownloadMemory,
        {
            {F::kRefused, A::kAll, Fails(4, "SendObjectMsg msg failed[7:111].")},
            {F::kReset, A::kGet, kObjectMsgSendFailed},
            {F::kResetMidBody, A::kGet, kObjectMsgSendFailed},
            {F::kStall, A::kGet, kObjectMsgTimedOut},
            {F::kShortBody, A::kGet, kObjectBodyShort},
            {F::kChunked, A::kGet, Ok()},
            {F::k5xx, A::kGet, Fails(5, "DownloadObject rsp status code[503].")},
            {F::kNotEnoughSpace, A::kGet, Fails(5, "DownloadObject rsp status code[500].")},
            {F::kMalformed, A::kGet, OkWith(kBrokenXml)},
            {F::kEmpty, A::kGet, OkWith("")},
            Without("Content-Length", {F::kMissingHeader, A::kGet, Ok()}),
            {F::kBadLocation, A::kGet, Fails(6, "redirect url error[https://")},
            {F::kLoopLocation, A::kGet, Fails(5, "DownloadObject rsp status code[302].")},
            {F::kHugeBody, A::kGet, Fails(5, "DownloadObject rsp status code[500].")},
            // The redirected request: the same time-outs, no NoSuchKey reading.
            {F::kReset, A::kRedirected, kObjectMsgSendFailed},
            {F::kStall, A::kRedirected, kObjectMsgTimedOut},
            {F::kShortBody, A::kRedirected, kObjectBodyShort},
            {F::k5xx, A::kRedirected, Fails(5, "DownloadObject rsp status code[503].")},
        });
  AddOp(cells, Op::kDownloadRange,
        {
            {F::kRefused, A::kAll, Fails(4, "SendObjectMsg msg failed[7:111].")},
            {F::kReset, A::kGet, kObjectMsgSendFailed},
            {F::kResetMidBody, A::kGet, kObjectMsgSendFailed},
            {F::kStall, A::kGet, kObjectMsgTimedOut},
            {F::kShortBody, A::kGet, kObjectBodyShort},
            {F::kChunked, A::kGet, Ok()},
            {F::k5xx, A::kGet, Fails(5, "DownloadObject rsp status code[503].")},
            {F::kNotEnoughSpace, A::kGet, Fails(5, "DownloadObject rsp status code[500].")},
            {F::kMalformed, A::kGet, OkWith(kBrokenXml)},
            {F::kEmpty, A::kGet, OkWith("")},
            Without("Location", {F::kMissingHeader, A::kGet, Fails(6, "redirect url error[].")}),
            NoPath({F::kBadLocation, A::kGet, Fails(6, "redirect url error[http://")}),
            {F::kLoopLocation, A::kGet, Fails(5, "DownloadObject rsp status code[302].")},
            {F::kHugeBody, A::kGet, Fails(5, "DownloadObject rsp status code[500].")},
        });
  AddOp(cells, Op::kDownloadFileHttp,
        {
            {F::kRefused, A::kAll, Fails(4, "Send download big object msg failed[7:111].")},
            {F::kReset, A::kGet, kBigObjectSendFailed},
            {F::kResetMidBody, A::kGet, kBigObjectSendFailed},
            {F::kStall, A::kGet, Fails(4, "Send download big object msg failed[28:28].")},
            {F::kShortBody, A::kGet, kBigObjectSendFailed},
            {F::kChunked, A::kGet, Ok()},
            {F::k5xx, A::kGet, Fails(5, "DownloadBigObject rsp status code[503].")},
            {F::kNotEnoughSpace, A::kGet, Fails(5, "DownloadBigObject rsp status code[500].")},
            {F::kMalformed, A::kGet, OkWith(kBrokenXml)},
            {F::kEmpty, A::kGet, OkWith("")},
            Without("Location", {F::kMissingHeader, A::kGet, Fails(6, "redirect url error[].")}),
            {F::kBadLocation, A::kGet, Fails(6, "redirect url error[https://")},
            {F::kLoopLocation, A::kGet, Fails(5, "DownloadBigObject rsp status code[302].")},
            {F::kHugeBody, A::kGet, Fails(5, "DownloadBigObject rsp status code[500].")},
            // The redirected request carries no time-outs: a stall is ridden out.
            {F::kReset, A::kRedirected, kBigObjectSendFailed},
            {F::kStall, A::kRedirected, Ok()},
            {F::kShortBody, A::kRedirected, kBigObjectSendFailed},
            {F::k5xx, A::kRedirected, Fails(5, "DownloadBigObject rsp status code[503].")},
        });
  AddOp(cells, Op::kDownloadFileHttps,
        {
            // The metadata request fails too, and the object streams.
            {F::kRefused, A::kAll, Fails(4, "Send download big object msg failed[7:111].")},
            {F::kReset, A::kGet, kObjectMsgSendFailed},
            {F::kResetMidBody, A::kGet, kObjectMsgSendFailed},
            {F::kStall, A::kGet, kObjectMsgTimedOut},
            {F::kShortBody, A::kGet, kObjectBodyShort},
            {F::kChunked, A::kGet, Ok()},
            {F::k5xx, A::kGet, Fails(5, "DownloadObject rsp status code[503].")},
            {F::kNotEnoughSpace, A::kGet, Fails(5, "DownloadObject rsp status code[500].")},
            // A range answered by a document is shorter than its slice.
            {F::kMalformed, A::kGet, kObjectBodyShort},
            {F::kEmpty, A::kGet, Fails(5, "DownloadObject rsp body short[0 of 1048576")},
            // Without Object-Size the object streams.
            Without("Object-Size", {F::kMissingHeader, A::kMetadata, Ok()}),
            {F::kBadLocation, A::kGet, Fails(6, "redirect url error[http://")},
            {F::kLoopLocation, A::kGet, Fails(5, "DownloadObject rsp status code[302].")},
            {F::kHugeBody, A::kGet, Fails(5, "DownloadObject rsp status code[500].")},
            {F::kReset, A::kRedirected, kObjectMsgSendFailed},
            {F::kStall, A::kRedirected, kObjectMsgTimedOut},
            {F::k5xx, A::kRedirected, Fails(5, "DownloadObject rsp status code[503].")},
        });
  for (const Op op : {Op::kRemove, Op::kRemoveObjectFile}) {
    AddOp(cells, op,
          {
              {F::kRefused, A::kAll, Fails(4, "send remove object failed[7:111].")},
              {F::kReset, A::kDelete, Fails(4, "send remove object failed[")},
              // Removed before the reset: the call fails, the object is gone.
              {F::kResetMidBody, A::kDelete, Fails(4, "send remove object failed[")},
              {F::kStall, A::kDelete, Ok()},
              {F::kShortBody, A::kDelete, Ok()},
              {F::kChunked, A::kDelete, Ok()},
              {F::k5xx, A::kDelete, Fails(5, "remove object rsp status code[503].")},
              {F::kNotEnoughSpace, A::kDelete, Fails(5, "remove object rsp status code[500].")},
              {F::kMalformed, A::kDelete, Ok()},
              {F::kEmpty, A::kDelete, Ok()},
              Without("Content-Length", {F::kMissingHeader, A::kDelete, Ok()}),
              {F::kBadLocation, A::kDelete, Fails(5, "remove object rsp status code[302].")},
              {F::kLoopLocation, A::kDelete, Fails(5, "remove object rsp status code[302].")},
              {F::kHugeBody, A::kDelete, Fails(5, "remove object rsp status code[500].")},
          });
  }
  AddOp(
      cells, Op::kVersion,
      {
          {F::kRefused, A::kAll, Fails(4, "Send get storage version msg failed[7:111].")},
          {F::kReset, A::kVersion, Fails(4, "Send get storage version msg failed[")},
          {F::kResetMidBody, A::kVersion, Fails(4, "Send get storage version msg failed[")},
          {F::kStall, A::kVersion, Ok()},
          {F::kShortBody, A::kVersion, Fails(5, "get storage version rsp msg invalid[")},
          {F::kChunked, A::kVersion, Ok()},
          {F::k5xx, A::kVersion, Fails(5, "get storage version rsp status code[503].")},
          {F::kNotEnoughSpace, A::kVersion, Fails(5, "get storage version rsp status code[500].")},
          {F::kMalformed, A::kVersion, Fails(5, "get storage version rsp msg invalid[<?xml")},
          {F::kEmpty, A::kVersion, Fails(5, "get storage version rsp msg invalid[].")},
          Without("Content-Length", {F::kMissingHeader, A::kVersion, Ok()}),
          {F::kBadLocation, A::kVersion, Fails(5, "get storage version rsp status code[302].")},
          {F::kLoopLocation, A::kVersion, Fails(5, "get storage version rsp status code[302].")},
          {F::kHugeBody, A::kVersion, Fails(5, "get storage version rsp status code[500].")},
          Status200({F::kHugeBody, A::kVersion, Fails(5, "get storage version rsp msg invalid[")}),
      });
  AddOp(cells, Op::kPictureUpload,
        {
            {F::kRefused, A::kAll, PictureFails()},
            {F::kReset, A::kPicWrite, PictureFails()},
            {F::kResetMidBody, A::kPicBestNode, PictureFails()},
            {F::kStall, A::kPicWrite, Ok()},
            {F::kShortBody, A::kPicBestNode, PictureFails()},
            {F::kChunked, A::kPicWrite, Ok()},
            {F::k5xx, A::kPicWrite, PictureFails()},
            {F::kNotEnoughSpace, A::kPicWrite, PictureFails()},
            {F::kMalformed, A::kPicBestNode, PictureFails()},
            // Stored before the answer was emptied: the call fails (no URL).
            {F::kEmpty, A::kPicWrite, PictureFails()},
            Without("Content-Length", {F::kMissingHeader, A::kPicBestNode, Ok()}),
            {F::kBadLocation, A::kPicWrite, PictureFails()},
            {F::kLoopLocation, A::kPicBestNode, PictureFails()},
            {F::kHugeBody, A::kPicWrite, PictureFails()},
            Status200({F::kHugeBody, A::kPicBestNode, PictureFails()}),
            Status200({F::kHugeBody, A::kPicWrite, PictureFails()}),
        });
  AddOp(cells, Op::kPictureDownload,
        {
            {F::kRefused, A::kAll, PictureFails()},
            {F::kReset, A::kPicGet, PictureFails()},
            {F::kResetMidBody, A::kPicGet, PictureFails()},
            {F::kStall, A::kPicGet, Ok()},
            {F::kShortBody, A::kPicGet, PictureFails()},
            {F::kChunked, A::kPicGet, Ok()},
            {F::k5xx, A::kPicGet, PictureFails()},
            {F::kNotEnoughSpace, A::kPicGet, PictureFails()},
            {F::kMalformed, A::kPicGet, OkWith(kBrokenXml)},
            {F::kEmpty, A::kPicGet, OkWith("")},
            Without("Location", {F::kMissingHeader, A::kPicGet, PictureFails()}),
            {F::kBadLocation, A::kPicGet, PictureFails()},
            {F::kLoopLocation, A::kPicGet, PictureFails()},
            {F::kHugeBody, A::kPicGet, PictureFails()},
            {F::kReset, A::kRedirected, PictureFails()},
            {F::kStall, A::kRedirected, Ok()},
            {F::k5xx, A::kRedirected, PictureFails()},
        });
  return cells;
}

}  // namespace

const std::vector<Cell>& MatrixCells() {
  static const std::vector<Cell> cells = BuildCells();
  return cells;
}

const char* OpName(Op op) {
  switch (op) {
    case Op::kUploadMemory:
      return "UploadMemory";
    case Op::kUploadFileSmall:
      return "UploadFileSmall";
    case Op::kUploadFileMultipart:
      return "UploadFileMultipart";
    case Op::kPieces:
      return "Pieces";
    case Op::kPiecesAloneStorage:
      return "PiecesAloneStorage";
    case Op::kPiecesAndFileName:
      return "PiecesAndFileName";
    case Op::kDownloadMemory:
      return "DownloadMemory";
    case Op::kDownloadRange:
      return "DownloadRange";
    case Op::kDownloadFileHttp:
      return "DownloadFileHttp";
    case Op::kDownloadFileHttps:
      return "DownloadFileHttps";
    case Op::kRemove:
      return "Remove";
    case Op::kRemoveObjectFile:
      return "RemoveObjectFile";
    case Op::kVersion:
      return "Version";
    case Op::kPictureUpload:
      return "PictureUpload";
    case Op::kPictureDownload:
      return "PictureDownload";
  }
  return "?";
}

const char* FaultName(Fault fault) {
  switch (fault) {
    case F::kRefused:
      return "refused";
    case F::kReset:
      return "reset";
    case F::kResetMidBody:
      return "reset_mid_body";
    case F::kStall:
      return "stall";
    case F::kShortBody:
      return "short_body";
    case F::kChunked:
      return "chunked";
    case F::k5xx:
      return "5xx";
    case F::kNotEnoughSpace:
      return "not_enough_space";
    case F::kMalformed:
      return "malformed";
    case F::kEmpty:
      return "empty";
    case F::kMissingHeader:
      return "missing_header";
    case F::kBadLocation:
      return "bad_location";
    case F::kLoopLocation:
      return "loop_location";
    case F::kHugeBody:
      return "huge_body";
  }
  return "?";
}

const char* AtName(At at) {
  switch (at) {
    case A::kAll:
      return "all";
    case A::kBestNode:
      return "bestnode";
    case A::kPut:
      return "put";
    case A::kCreate:
      return "create";
    case A::kPart1:
      return "part1";
    case A::kPart2:
      return "part2";
    case A::kPart3:
      return "part3";
    case A::kParts:
      return "parts";
    case A::kComplete:
      return "complete";
    case A::kGet:
      return "get";
    case A::kRedirected:
      return "redirected";
    case A::kMetadata:
      return "metadata";
    case A::kDelete:
      return "delete";
    case A::kVersion:
      return "version";
    case A::kPicBestNode:
      return "pic-bestnode";
    case A::kPicWrite:
      return "pic-write";
    case A::kPicGet:
      return "pic-get";
  }
  return "?";
}

}  // namespace orca_test
