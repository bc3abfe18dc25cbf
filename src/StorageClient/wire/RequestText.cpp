#include "wire/RequestText.h"

#include <algorithm>

#include "base/StrFmt.h"

namespace Orca {
namespace CloudStorage {
namespace {

bool IsPrintable(unsigned char byte) { return byte >= 0x20 && byte <= 0x7e; }

size_t FindFirst(const std::string& text, bool (*bad)(unsigned char)) {
  const auto found = std::find_if(text.begin(), text.end(),
                                  [bad](char c) { return bad(static_cast<unsigned char>(c)); });
  return found == text.end() ? std::string::npos : static_cast<size_t>(found - text.begin());
}

}  // namespace

size_t FindTargetUnsafeByte(const std::string& text) {
  return FindFirst(text, [](unsigned char byte) { return byte <= 0x20 || byte == 0x7f; });
}

size_t FindAuthorityUnsafeByte(const std::string& text) {
  return FindFirst(text, [](unsigned char byte) {
    return byte <= 0x20 || byte == 0x7f || byte == '/' || byte == '?' || byte == '#' ||
           byte == '@' || byte == '\\';
  });
}

size_t FindNonPrintableByte(const std::string& text) {
  return FindFirst(text, [](unsigned char byte) { return !IsPrintable(byte); });
}

std::string DescribeUnsafeByte(const char* what, const std::string& text, size_t offset) {
  std::string shown;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    shown += IsPrintable(byte) ? std::string(1, c) : Base::str_fmt("\\x%02x", byte);
  }
  return Base::str_fmt("%s[%s] holds byte 0x%02x at offset %zu", what, shown.c_str(),
                       static_cast<unsigned char>(text[offset]), offset);
}

Status CheckTargetText(const char* what, const std::string& text) {
  const size_t unsafe = FindTargetUnsafeByte(text);
  if (unsafe == std::string::npos) {
    return Status();
  }
  return Status(ErrorCode::kInvalidArgument,
                DescribeUnsafeByte(what, text, unsafe) + ", which cannot stand in a request.");
}

}  // namespace CloudStorage
}  // namespace Orca
