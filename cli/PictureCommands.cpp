// ocs pic put / ocs pic get, through the picture gateway.
#include <cstdio>
#include <memory>
#include <string>

#include "OrcaCloudStorage/StorageClient.h"
#include "cli/Commands.h"
#include "cli/LocalFiles.h"
#include "cli/ObjectSession.h"
#include "cli/Output.h"

namespace ocs {
namespace {

// The gateway takes pictures of up to 32 MiB.
constexpr uint64_t kMaxPictureSize = uint64_t{32} * 1024 * 1024;

Orca::CloudStorage::CPictureClient NewPictureClient(const Context& ctx) {
  Orca::CloudStorage::CPictureClient client(
      ServerConfig(ctx, ctx.settings.pic_upload_port, ctx.settings.pic_download_port));
  client.SetRetryPolicy(ctx.settings.retries, ctx.settings.retry_delay_ms);
  return client;
}

// The picture client keeps no error state: its first failure record says why.
int ReportPictureFailure(const Context& ctx, const std::string& what) {
  if (ctx.interrupts->Interrupted()) {
    return ComplainCancelled();
  }
  std::fprintf(stderr, "error: %s failed: %s\n", what.c_str(), ctx.log->FirstFailure().c_str());
  return kExitFailure;
}

}  // namespace

int RunPicturePut(const Context& ctx, const PicturePutArgs& args) {
  std::string problem;
  const auto size = RegularFileSize(args.file, problem);
  if (!size) {
    return Complain(problem);
  }
  if (*size > kMaxPictureSize) {
    return Complain(args.file + ": pictures are limited to 32 MiB");
  }
  std::string picture;
  if (!ReadWholeFile(args.file, picture, problem)) {
    return Complain(problem);
  }
  auto client = NewPictureClient(ctx);
  const Stopwatch clock;
  std::string url;
  const bool stored = Cancellable(*ctx.interrupts, client, [&] {
    return client.UploadPicture(url, picture.data(), static_cast<uint32_t>(picture.size()));
  });
  if (!stored) {
    return ReportPictureFailure(ctx, "picture upload");
  }
  Result()
      .Add("url", url)
      .Add("bytes", static_cast<uint64_t>(picture.size()))
      .Add("seconds", clock.Seconds())
      .Print(ctx.settings.json, url);
  return kExitOk;
}

int RunPictureGet(const Context& ctx, const PictureGetArgs& args) {
  auto client = NewPictureClient(ctx);
  const Stopwatch clock;
  char* data = nullptr;
  uint32_t length = 0;
  if (!Cancellable(*ctx.interrupts, client,
                   [&] { return client.DownloadPicture(&data, length, args.url); })) {
    return ReportPictureFailure(ctx, "picture download");
  }
  const std::unique_ptr<char[]> owned(data);
  std::string problem;
  if (!WriteOutput(args.target, owned.get(), length, problem)) {
    return Complain(problem);
  }
  if (args.target != kStandardStream) {
    Result()
        .Add("url", args.url)
        .Add("file", args.target)
        .Add("bytes", static_cast<uint64_t>(length))
        .Add("seconds", clock.Seconds())
        .Print(ctx.settings.json, "");
  }
  return kExitOk;
}

}  // namespace ocs
