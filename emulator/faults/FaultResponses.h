// How each fault kind turns into a misbehaving answer.
#ifndef OCS_EMULATOR_FAULTS_FAULTRESPONSES_H_
#define OCS_EMULATOR_FAULTS_FAULTRESPONSES_H_

#include "emulator/faults/Faults.h"
#include "emulator/http/Exchange.h"
#include "emulator/service/Context.h"

namespace ocs {

// Answers with `action` instead of handling the request (the kinds for
// which ReplacesHandling holds). A reset is only marked in `ex.reset`: the
// caller resets the connection once the request is journaled.
void AnswerWithFault(Exchange& ex, Context& ctx, const FaultAction& action);

// Alters the answer the handler made (the other kinds); may mark a reset as
// above.
void AlterAnswer(Exchange& ex, Context& ctx, const FaultAction& action);

}  // namespace ocs

#endif  // OCS_EMULATOR_FAULTS_FAULTRESPONSES_H_
