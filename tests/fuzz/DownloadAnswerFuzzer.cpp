// Fuzzes how downloads judge an answer: the streamed receiver
// (CDownloadToFile::Receive, then JudgeStream), a memory download's body check
// (CMemoryBody::Problem) and the split of a redirect's Location (SplitLocation).
// Input: one byte choosing the part, then for the first two command lines:
// "S <status>", "H <name>: <value>", "P <bytes>" (piece or body bytes), "N
// <size>" (a piece without data), "E <minor>" (transport error from now on),
// "I" (body incomplete), "X" (body over the limit); for the Location a byte
// whose low bit is use_https, then the Location.
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "FuzzInput.h"
#include "StorageClient/operations/DownloadToFile.h"
#include "StorageClient/protocol/MemoryBody.h"
#include "StorageClient/protocol/ObjectImpl.h"
#include "StorageClient/protocol/ObjectProtoClient.h"
#include "StorageClient/protocol/Redirect.h"

namespace {

namespace cs = Orca::CloudStorage;
namespace net = Orca::Net;
using orca_fuzz::Broken;

int ParseInt(const std::string& text) {
  const long value = std::strtol(text.c_str(), nullptr, 10);
  return static_cast<int>(std::clamp<long>(value, INT32_MIN, INT32_MAX));
}

// Calls `apply(command, argument)` for each command line of `input`, and
// adds the header fields of "H" lines to `response` itself.
template <typename Apply>
void ForEachCommand(orca_fuzz::FuzzInput& input, net::CHttpClientResponse& response, Apply apply) {
  while (!input.empty()) {
    const std::string line = input.Line();
    const std::string arg = line.size() > 2 ? line.substr(2) : "";
    if (line.empty()) {
      continue;
    }
    if (line[0] == 'H') {
      const size_t colon = arg.find(':');
      std::string value = colon == std::string::npos ? "" : arg.substr(colon + 1);
      value.erase(0, value.find_first_not_of(' '));
      response.AddHeaderField(arg.substr(0, colon), value);
    } else {
      apply(line[0], arg);
    }
  }
}

// Feeds the streamed receiver and judges the outcome. Properties: progress
// reports rise strictly within 1..100, and a download judged a success
// wrote exactly the pieces of a 200 answer, at least its Content-Length.
void Receive(orca_fuzz::FuzzInput& input) {
  static const orca_fuzz::ScratchDir dir;
  const std::string file_path = dir.path() + "/object.bin";
  std::filesystem::remove(file_path);
  cs::SStorageServerConfig config;
  config.ip = "127.0.0.1";
  config.pool_name = "p1";
  int last_percent = 0;
  config.progress_callback = [&last_percent](const cs::SProgressInfo& info) {
    if (info.percent <= last_percent || info.percent > 100) Broken("progress leaves 1..100");
    last_percent = info.percent;
  };
  const auto impl = std::make_shared<cs::ObjectImpl>(config);
  cs::CObjectProtoClient client;
  client.Init(impl);
  cs::CDownloadToFile download(impl, client, file_path);

  net::CHttpClientResponse response;
  net::HttpClient::Error error;
  std::string written;
  bool failed_piece = false;
  bool started = false;
  int first_status = 0;  // as the receiver reads them on the first call
  uint64_t first_length = 0;
  const auto deliver = [&](const char* piece, uint32_t piece_size, bool last) {
    if (!started) {
      started = true;
      first_status = response.GetStatusCode();
      std::string length;
      response.GetHeaderField(length, "Content-Length");
      // The leading digits (the largest value when they overflow).
      first_length = std::isdigit(static_cast<unsigned char>(length[0])) != 0
                         ? std::strtoull(length.c_str(), nullptr, 10)
                         : 0;
    }
    failed_piece = failed_piece || error.minor != 0;
    download.Receive(response, piece, piece_size, error, last);
  };
  ForEachCommand(input, response, [&](char command, const std::string& arg) {
    if (command == 'S' && !started) {  // an answer's status does not change
      response.SetStatusCode(ParseInt(arg));
    } else if (command == 'E') {
      error.major = 56;
      error.minor = ParseInt(arg);
    } else if (command == 'N') {
      deliver(nullptr, static_cast<uint32_t>(ParseInt(arg)), false);
    } else if (command == 'P') {
      deliver(arg.data(), static_cast<uint32_t>(arg.size()), false);
      written += arg;
    }
  });
  deliver(nullptr, 0, true);
  // After a redirect the verdict would follow it over the network.
  if (first_status == 301 || first_status == 302 ||
      !download.JudgeStream(!failed_piece, "/p1/k.bin").ok()) {
    return;
  }
  std::ifstream in(file_path, std::ios::binary);
  const std::string file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (first_status != 200 || failed_piece || file != written || file.size() < first_length) {
    Broken("a download judged a success did not write the whole answer");
  }
}

// Property: a body judged fit for a memory download holds at least the
// length that will be copied out of it, and that length fits 32 bits.
void CheckMemoryBody(orca_fuzz::FuzzInput& input) {
  net::CHttpClientResponse response;
  ForEachCommand(input, response, [&response](char command, const std::string& arg) {
    if (command == 'S') {
      response.SetStatusCode(ParseInt(arg));
    } else if (command == 'P') {
      response.AppendBody(arg.data(), arg.size(), UINT64_MAX);
    } else if (command == 'I') {
      response.SetBodyComplete(false);
    } else if (command == 'X') {
      response.SetBodyLimitExceeded();
    }
  });
  const uint64_t length = response.GetContentLength();
  if (cs::CMemoryBody::Problem(response).empty() &&
      (length >= UINT32_MAX || response.GetBody().size() < length)) {
    Broken("a memory download would copy more than the body holds");
  }
}

// Properties: a split keeps every byte (base + path is the Location), the
// path starts with "/" and the base starts with the expected scheme (in any
// case); a refused Location leaves the outputs alone.
void SplitLocation(orca_fuzz::FuzzInput& input) {
  const bool https = (input.Byte() & 1) != 0;
  const std::string location = input.Rest();
  std::string base = "unchanged";
  std::string path = "unchanged";
  if (!cs::SplitLocation(location, https, base, path)) {
    if (base != "unchanged" || path != "unchanged") {
      Broken("a refused Location changed the outputs");
    }
  } else if (base + path != location || path.empty() || path[0] != '/' ||
             strncasecmp(base.c_str(), https ? "https://" : "http://", https ? 8 : 7) != 0) {
    Broken("SplitLocation lost or misplaced bytes");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orca_fuzz::FuzzInput input(data, size);
  const uint8_t part = input.Byte() % 3;
  if (part == 0) {
    Receive(input);
  } else if (part == 1) {
    CheckMemoryBody(input);
  } else {
    SplitLocation(input);
  }
  return 0;
}
