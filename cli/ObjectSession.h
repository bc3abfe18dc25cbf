// The object client of one command, and how its failures are reported.
#ifndef OCS_CLI_OBJECT_SESSION_H_
#define OCS_CLI_OBJECT_SESSION_H_

#include <cstdint>
#include <functional>
#include <string>

#include "OrcaCloudStorage/StorageClient.h"
#include "cli/Commands.h"

namespace ocs {

// Receives the library's progress percentages.
using PercentHandler = std::function<void(int percent)>;

// The address, scheme, pool and keys of `ctx` with the given ports.
Orca::CloudStorage::SStorageServerConfig ServerConfig(const Context& ctx, uint32_t upload_port,
                                                      uint32_t download_port);

// A client configured from `ctx` for the object service, with its retry
// policy, reporting progress to `on_percent` (may be empty).
Orca::CloudStorage::CObjectClient NewObjectClient(const Context& ctx,
                                                  const PercentHandler& on_percent = nullptr);

// "ADDRESS (upload port U, download port D)", for messages.
std::string ObjectService(const Settings& settings);

// Prints "error CODE: MESSAGE" from the client's last failure (or, when the
// failure recorded no code, its first log record), then a line on what it
// most likely means (FailureHint), and returns kExitFailure; after a signal,
// prints "ocs: cancelled" and returns kExitCancelled instead.
int ReportObjectFailure(Orca::CloudStorage::CObjectClient& client, const Context& ctx,
                        const std::string& server);

}  // namespace ocs

#endif  // OCS_CLI_OBJECT_SESSION_H_
