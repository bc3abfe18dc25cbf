// One line on what a recorded failure most likely means and what to do.
#ifndef OCS_CLI_FAILURE_HINTS_H_
#define OCS_CLI_FAILURE_HINTS_H_

#include <cstdint>
#include <string>

namespace ocs {

// The hint for the library's failure `code` with `message`, as recorded by
// an object operation on the service at `server` ("ADDRESS (ports...)");
// empty when there is nothing to add.
std::string FailureHint(int32_t code, const std::string& message, const std::string& server);

}  // namespace ocs

#endif  // OCS_CLI_FAILURE_HINTS_H_
