// ocs get / ocs cat: an object streamed into a file (with progress), or read
// into memory (whole or by range) and written to a file or standard output.
#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <string>

#include "cli/Commands.h"
#include "cli/LocalFiles.h"
#include "cli/ObjectSession.h"
#include "cli/Output.h"
#include "cli/ProgressBar.h"

namespace ocs {
namespace {

// The size of `path` now, 0 when it cannot be read.
uint64_t CurrentSize(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

// Decimal digits that fit in 64 bits.
bool IsNumber(const std::string& text) {
  return !text.empty() && text.size() <= 19 &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

bool Exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

int PrintFetched(const Context& ctx, const GetArgs& args, uint64_t bytes, const Stopwatch& clock) {
  if (args.target == kStandardStream) {
    return kExitOk;  // standard output holds the object itself
  }
  Result result;
  result.Add("url", args.url).Add("file", args.target).Add("bytes", bytes);
  if (!args.range.empty()) {
    result.Add("range", args.range);
  }
  result.Add("seconds", clock.Seconds()).Print(ctx.settings.json, "");
  return kExitOk;
}

// Streams the object into the target file; a file this call created is
// removed again on failure or cancellation, so that no partial object is left
// behind.
int GetToFile(const Context& ctx, const GetArgs& args) {
  const std::string created = Exists(args.target) ? "" : args.target;
  ProgressBar& bar = *ctx.bar;
  auto client = NewObjectClient(
      ctx, [&bar, &args](int percent) { bar.Update(percent, CurrentSize(args.target), 0); });
  const Stopwatch clock;
  const bool fetched = Cancellable(
      *ctx.interrupts, client, [&] { return client.DownloadFile(args.url, args.target); }, created);
  bar.Finish();
  if (!fetched) {
    if (!created.empty()) {
      std::remove(created.c_str());
    }
    return ReportObjectFailure(client, ctx, ObjectService(ctx.settings));
  }
  return PrintFetched(ctx, args, CurrentSize(args.target), clock);
}

int GetToMemory(const Context& ctx, const GetArgs& args) {
  auto client = NewObjectClient(ctx);
  const Stopwatch clock;
  char* data = nullptr;
  uint32_t length = 0;
  std::string range = args.range;
  const bool fetched = Cancellable(*ctx.interrupts, client, [&] {
    return range.empty() ? client.DownloadFile(&data, length, args.url)
                         : client.DownloadFile(&data, length, range, args.url);
  });
  if (!fetched) {
    return ReportObjectFailure(client, ctx, ObjectService(ctx.settings));
  }
  const std::unique_ptr<char[]> owned(data);
  std::string problem;
  if (!WriteOutput(args.target, owned.get(), length, problem)) {
    return Complain(problem);
  }
  return PrintFetched(ctx, args, length, clock);
}

}  // namespace

std::string CheckRange(const std::string& range) {
  const auto dash = range.find('-');
  const std::string first = range.substr(0, dash);
  const std::string last = dash == std::string::npos ? "" : range.substr(dash + 1);
  const bool well_formed = dash != std::string::npos && (IsNumber(first) || IsNumber(last)) &&
                           (first.empty() || IsNumber(first)) && (last.empty() || IsNumber(last));
  if (!well_formed) {
    return "range must be FIRST-LAST, FIRST- or -SUFFIX (bytes, counted from 0)";
  }
  if (!first.empty() && !last.empty() && std::stoull(first) > std::stoull(last)) {
    return "range must not end before it starts";
  }
  return "";
}

int RunGet(const Context& ctx, const GetArgs& args) {
  if (args.target == kStandardStream || !args.range.empty()) {
    return GetToMemory(ctx, args);
  }
  return GetToFile(ctx, args);
}

}  // namespace ocs
