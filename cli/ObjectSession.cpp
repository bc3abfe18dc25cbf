#include "cli/ObjectSession.h"

#include <cstdio>
#include <string>

#include "cli/FailureHints.h"
#include "cli/Output.h"

namespace ocs {

Orca::CloudStorage::SStorageServerConfig ServerConfig(const Context& ctx, uint32_t upload_port,
                                                      uint32_t download_port) {
  Orca::CloudStorage::SStorageServerConfig config;
  config.use_https = ctx.settings.https;
  config.upload_port = upload_port;
  config.download_port = download_port;
  config.pool_name = ctx.settings.pool;
  config.ip = ctx.settings.address;
  config.ak = ctx.keys.access_key;
  config.sk = ctx.keys.secret_key;
  return config;
}

Orca::CloudStorage::CObjectClient NewObjectClient(const Context& ctx,
                                                  const PercentHandler& on_percent) {
  Orca::CloudStorage::SStorageServerConfig config =
      ServerConfig(ctx, ctx.settings.upload_port, ctx.settings.download_port);
  if (on_percent) {
    config.progress_callback = [on_percent](const Orca::CloudStorage::SProgressInfo& info) {
      on_percent(info.percent);
    };
  }
  Orca::CloudStorage::CObjectClient client(config);
  client.SetRetryPolicy(ctx.settings.retries, ctx.settings.retry_delay_ms);
  return client;
}

std::string ObjectService(const Settings& settings) {
  return settings.address + " (upload port " + std::to_string(settings.upload_port) +
         ", download port " + std::to_string(settings.download_port) + ")";
}

int ReportObjectFailure(Orca::CloudStorage::CObjectClient& client, const Context& ctx,
                        const std::string& server) {
  if (ctx.interrupts->Interrupted()) {
    return ComplainCancelled();
  }
  int32_t code = 0;
  std::string message;
  client.GetLastError(code, message);
  if (code == 0) {
    std::fprintf(stderr, "error: %s\n", ctx.log->FirstFailure().c_str());
    return kExitFailure;
  }
  std::fprintf(stderr, "error %d: %s\n", code, message.c_str());
  const std::string hint = FailureHint(code, message, server);
  if (!hint.empty()) {
    Complain(hint);
  }
  return kExitFailure;
}

}  // namespace ocs
