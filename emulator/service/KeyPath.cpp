#include "emulator/service/KeyPath.h"

#include <cctype>

namespace ocs {
namespace {

bool IsPlain(unsigned char c) { return std::isalnum(c) || c == '_' || c == '-' || c == '.'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

// Percent-decodes `text`; bad escapes stay as they are.
std::string PercentDecode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// Why `segment` of a key is refused, or empty when it is fine.
std::string CheckSegment(const std::string& segment) {
  if (segment.empty()) {
    return "empty path segment";
  }
  const std::string decoded = PercentDecode(segment);
  if (decoded == "." || decoded == "..") {
    return "path segment \"" + segment + "\" is not allowed";
  }
  for (const char c : decoded) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '/' || c == '\\') {
      return "control, slash or backslash byte in a path segment";
    }
  }
  return "";
}

}  // namespace

std::optional<ObjectAddress> ParseObjectPath(const std::string& raw_path, std::string* why) {
  if (raw_path.size() < 2 || raw_path[0] != '/') {
    *why = "the path must be /pool/key";
    return std::nullopt;
  }
  const size_t slash = raw_path.find('/', 1);
  if (slash == std::string::npos || slash + 1 == raw_path.size()) {
    *why = "the path names no object key";
    return std::nullopt;
  }
  ObjectAddress address{raw_path.substr(1, slash - 1), raw_path.substr(slash + 1)};
  if (!IsValidPoolName(address.pool)) {
    *why = "invalid pool name";
    return std::nullopt;
  }
  size_t start = 0;
  while (start <= address.key.size()) {
    size_t end = address.key.find('/', start);
    if (end == std::string::npos) {
      end = address.key.size();
    }
    *why = CheckSegment(address.key.substr(start, end - start));
    if (!why->empty()) {
      return std::nullopt;
    }
    start = end + 1;
  }
  if (EncodeFileName(address.key).size() > kMaxFileName) {
    *why = "the object key is too long";
    return std::nullopt;
  }
  return address;
}

bool IsValidPoolName(const std::string& pool) {
  if (pool.empty() || pool.size() > 63 || pool == "." || pool == "..") {
    return false;
  }
  for (const char c : pool) {
    if (!IsPlain(static_cast<unsigned char>(c))) {
      return false;
    }
  }
  return true;
}

std::string EncodeFileName(const std::string& name) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (IsPlain(c) && !(i == 0 && c == '.')) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kDigits[c >> 4];
      out += kDigits[c & 0x0f];
    }
  }
  return out.empty() ? std::string("%") : out;
}

std::optional<std::string> DecodeFileName(const std::string& file_name) {
  if (file_name == "%") {
    return std::string();
  }
  std::string out;
  for (size_t i = 0; i < file_name.size(); ++i) {
    if (file_name[i] != '%') {
      out += file_name[i];
      continue;
    }
    if (i + 2 >= file_name.size()) {
      return std::nullopt;
    }
    const int high = HexValue(file_name[i + 1]);
    const int low = HexValue(file_name[i + 2]);
    if (high < 0 || low < 0) {
      return std::nullopt;
    }
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

}  // namespace ocs
