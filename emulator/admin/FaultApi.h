// The admin routes of fault injection:
//   POST   /faults          add a fault rule -> {"id":N}
//   GET    /faults          {"rules":[...],"random":{...}|null}
//   DELETE /faults          drop every rule and the random mode
//   POST   /faults/random   set the random mode
//   DELETE /faults/random   end the random mode
#ifndef OCS_EMULATOR_ADMIN_FAULTAPI_H_
#define OCS_EMULATOR_ADMIN_FAULTAPI_H_

#include <httplib.h>

#include <string>

#include "emulator/faults/Faults.h"

namespace ocs {

// `faults` outlives the server.
void InstallFaultRoutes(httplib::Server& server, FaultInjector& faults);

// Parses a fault rule document; on failure `why` says what is wrong.
bool ParseFaultRule(const std::string& json, FaultMatch* match, FaultAction* action, int* count,
                    std::string* why);
// Parses a random-mode document; on failure `why` says what is wrong.
bool ParseRandomFaults(const std::string& json, RandomFaults* random, std::string* why);

}  // namespace ocs

#endif  // OCS_EMULATOR_ADMIN_FAULTAPI_H_
