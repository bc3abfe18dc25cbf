// The admin API: JSON over plain HTTP on a loopback port of its own.
//   GET    /health                 {"ok":true}
//   GET    /endpoints              the endpoints document
//   POST   /faults                 add a fault rule -> {"id":N}
//   GET    /faults                 {"rules":[...],"random":{...}|null}
//   DELETE /faults                 drop every rule and the random mode
//   POST   /faults/random          set the random mode
//   DELETE /faults/random          end the random mode
//   GET    /redirect, PUT /redirect   {"mode":"off|always|every:N","status":302}
//   GET    /journal, DELETE /journal  {"entries":[...]}
//   GET    /connections            accepted connections per port
//   GET    /objects?pool=NAME      {"objects":[{"key":..,"size":..}]}
//   GET    /uploads                {"uploads":[{"id","pool","key","parts":[...]}]}
//   GET    /link, PUT /link        {"latency_ms":N,"bandwidth_mbit":M}; 409 without
//                                  link emulation
// See emulator/README.md for the documents.
#ifndef OCS_EMULATOR_ADMIN_ADMINAPI_H_
#define OCS_EMULATOR_ADMIN_ADMINAPI_H_

#include <functional>
#include <string>
#include <vector>

#include "emulator/admin/Journal.h"
#include "emulator/faults/Faults.h"
#include "emulator/http/Listener.h"
#include "emulator/link/Link.h"
#include "emulator/service/Context.h"

namespace ocs {

// What the admin API reads and changes.
struct AdminTargets {
  Context& ctx;
  FaultInjector& faults;
  Journal& journal;
  std::vector<const Listener*> listeners;  // the service ports
  Link* link;                              // nullptr without link emulation
  std::function<std::string()> endpoints_json;
};

void InstallAdminApi(httplib::Server& server, const AdminTargets& targets);

}  // namespace ocs

#endif  // OCS_EMULATOR_ADMIN_ADMINAPI_H_
