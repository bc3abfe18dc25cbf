#include "wire/Logging.h"

#include <cstring>

#include "base/StrFmt.h"
#include "wire/Constants.h"

namespace Orca {
namespace CloudStorage {

std::string QualifiedFunctionName(const char* pretty_function) {
  const char* open = std::strchr(pretty_function, '(');
  if (open == nullptr) {
    return pretty_function;
  }
  const char* start = open;
  while (start > pretty_function && start[-1] != ' ') {
    --start;
  }
  return std::string(start, open);
}

std::string QuoteBody(const std::string& body) {
  if (body.size() <= kMaxQuotedBody) {
    return body;
  }
  return body.substr(0, kMaxQuotedBody) +
         Base::str_fmt("...[%zu more bytes not shown]", body.size() - kMaxQuotedBody);
}

std::string MaskSecret(const std::string& secret) {
  return secret.empty() ? std::string() : Base::str_fmt("<%zu bytes hidden>", secret.size());
}

}  // namespace CloudStorage
}  // namespace Orca
