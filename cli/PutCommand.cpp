// ocs put: a whole file through the library's file upload (multipart from
// 10 MiB, with progress), or a stream piece by piece.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "cli/Commands.h"
#include "cli/LocalFiles.h"
#include "cli/ObjectSession.h"
#include "cli/Output.h"
#include "cli/ProgressBar.h"

namespace ocs {
namespace {

// Pieces of a streamed upload; every piece but the last has this size.
constexpr size_t kPieceSize = size_t{2} * 1024 * 1024;

using FilePtr = std::unique_ptr<FILE, int (*)(FILE*)>;

int PrintStored(const Context& ctx, const std::string& url, uint64_t bytes,
                const Stopwatch& clock) {
  Result()
      .Add("url", url)
      .Add("bytes", bytes)
      .Add("seconds", clock.Seconds())
      .Print(ctx.settings.json, url);
  return kExitOk;
}

int PutWholeFile(const Context& ctx, const std::string& path) {
  std::string problem;
  const auto size = RegularFileSize(path, problem);
  if (!size) {
    return Complain(problem);
  }
  ProgressBar& bar = *ctx.bar;
  auto client = NewObjectClient(ctx, [&bar, total = *size](int percent) {
    bar.Update(percent, total * percent / 100, total);
  });
  const Stopwatch clock;
  std::string url;
  const bool stored =
      Cancellable(*ctx.interrupts, client, [&] { return client.UploadFile(url, path); });
  bar.Finish();
  if (!stored) {
    return ReportObjectFailure(client, ctx, ObjectService(ctx.settings));
  }
  return PrintStored(ctx, url, *size, clock);
}

// One piece through the variant the arguments select.
bool SendPiece(Orca::CloudStorage::CObjectClient& client, const PutArgs& args, std::string& url,
               const std::string& piece, bool first, bool last) {
  const auto length = static_cast<uint32_t>(piece.size());
  if (args.name.empty()) {
    return client.UploadFileByPieces(url, piece.data(), length, last);
  }
  return client.UploadFileByPiecesAndFileName(url, piece.data(), length, last, first);
}

// Opens the source of a piece-wise upload; `total` is its size when known.
FilePtr OpenSource(const std::string& source, uint64_t& total, std::string& problem) {
  if (source == kStandardStream) {
    return FilePtr(stdin, [](FILE*) { return 0; });
  }
  const auto size = RegularFileSize(source, problem);
  if (!size) {
    return FilePtr(nullptr, std::fclose);
  }
  total = *size;
  FilePtr file(std::fopen(source.c_str(), "rb"), std::fclose);
  if (!file) {
    problem = source + ": " + std::strerror(errno);
  }
  return file;
}

int PutPieces(const Context& ctx, const PutArgs& args) {
  uint64_t total = 0;
  std::string problem;
  const FilePtr source = OpenSource(args.source, total, problem);
  if (!source) {
    return Complain(problem);
  }
  ProgressBar& bar = *ctx.bar;
  auto client = NewObjectClient(ctx);
  const Stopwatch clock;
  PieceReader reader(source.get(), kPieceSize);
  std::string url = args.name;
  std::string piece;
  uint64_t sent = 0;
  bool last = false;
  for (bool first = true; reader.Next(piece, last); first = false) {
    const bool piece_stored = Cancellable(
        *ctx.interrupts, client, [&] { return SendPiece(client, args, url, piece, first, last); });
    if (!piece_stored) {
      bar.Finish();
      return ReportObjectFailure(client, ctx, ObjectService(ctx.settings));
    }
    sent += piece.size();
    bar.Update(total > 0 ? static_cast<int>(sent * 100 / total) : -1, sent, total);
  }
  bar.Finish();
  if (reader.Failed()) {
    return Complain("reading " + args.source + " failed; the upload is incomplete");
  }
  return PrintStored(ctx, url, sent, clock);
}

}  // namespace

int RunPut(const Context& ctx, const PutArgs& args) {
  if (args.source == kStandardStream || !args.name.empty()) {
    return PutPieces(ctx, args);
  }
  return PutWholeFile(ctx, args.source);
}

}  // namespace ocs
