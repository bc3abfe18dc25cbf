// The admin routes of link emulation:
//   GET /link, PUT /link   {"latency_ms":N,"bandwidth_mbit":M}
// A PUT changes the members it gives. Both answer 409 on an emulator started
// without link emulation: its ports have no relay to slow down.
#ifndef OCS_EMULATOR_ADMIN_LINKAPI_H_
#define OCS_EMULATOR_ADMIN_LINKAPI_H_

#include <httplib.h>

#include <string>

#include "emulator/Options.h"
#include "emulator/link/Link.h"

namespace ocs {

// `link` is nullptr without link emulation.
void InstallLinkRoutes(httplib::Server& server, Link* link);

// Reads a link document into `config`, whose members it leaves out keep
// their values; on failure `why` says what is wrong.
bool ParseLinkDocument(const std::string& json, LinkConfig* config, std::string* why);

}  // namespace ocs

#endif  // OCS_EMULATOR_ADMIN_LINKAPI_H_
