// ocs rm and ocs version.
#include <cstdlib>
#include <string>

#include "cli/Commands.h"
#include "cli/ObjectSession.h"
#include "cli/Output.h"

namespace ocs {
namespace {

// "HOST" or "HOST:PORT" into `info`; the port stays as given when absent.
bool ParseServer(const std::string& server, Orca::CloudStorage::SStorageServerInfo& info) {
  const auto colon = server.rfind(':');
  if (colon == std::string::npos) {
    info.ip = server;
    return !server.empty();
  }
  const std::string port = server.substr(colon + 1);
  char* end = nullptr;
  const unsigned long number = std::strtoul(port.c_str(), &end, 10);
  if (colon == 0 || port.empty() || *end != '\0' || number == 0 || number > 65535) {
    return false;
  }
  info.ip = server.substr(0, colon);
  info.port = static_cast<uint32_t>(number);
  return true;
}

}  // namespace

int RunRemove(const Context& ctx, const RemoveArgs& args) {
  auto client = NewObjectClient(ctx);
  const bool removed = Cancellable(*ctx.interrupts, client, [&] {
    return args.delete_file ? client.RemoveObjectFileByUrl(args.url)
                            : client.RemoveFileByUrl(args.url);
  });
  if (!removed) {
    return ReportObjectFailure(client, ctx, ObjectService(ctx.settings));
  }
  Result().Add("url", args.url).Add("removed", true).Print(ctx.settings.json, "");
  return kExitOk;
}

int RunVersion(const Context& ctx, const VersionArgs& args) {
  Orca::CloudStorage::SStorageServerInfo info;
  info.ip = ctx.settings.address;
  info.port = ctx.settings.upload_port;
  info.ak = ctx.keys.access_key;
  info.sk = ctx.keys.secret_key;
  if (!args.server.empty() && !ParseServer(args.server, info)) {
    return Complain("server must be HOST or HOST:PORT, not \"" + args.server + "\"", kExitUsage);
  }
  if (info.ip.empty() || info.port == 0) {
    return Complain("no server: give HOST:PORT, or set --address and --upload-port", kExitUsage);
  }
  const std::string server = info.ip + ":" + std::to_string(info.port);
  auto client = NewObjectClient(ctx);
  std::string version;
  if (!Cancellable(*ctx.interrupts, client,
                   [&] { return client.GetStorageVersion(version, info); })) {
    return ReportObjectFailure(client, ctx, server);
  }
  Result().Add("server", server).Add("version", version).Print(ctx.settings.json, version);
  return kExitOk;
}

}  // namespace ocs
