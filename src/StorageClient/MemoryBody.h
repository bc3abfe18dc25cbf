// Checks on an answer whose body is handed back as a memory buffer.
#ifndef ORCA_CS_MEMORYBODY_H_
#define ORCA_CS_MEMORYBODY_H_

#include <string>

#include "net/HttpClient.h"

namespace Orca {
namespace CloudStorage {

// Why the body of a 200 answer cannot be handed back whole through a 32-bit
// length: it is shorter than its Content-Length, or too long. Empty when it
// can.
std::string MemoryBodyProblem(const Net::CHttpClientResponse& response);

}  // namespace CloudStorage
}  // namespace Orca

#endif  // ORCA_CS_MEMORYBODY_H_
