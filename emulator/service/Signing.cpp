#include "emulator/service/Signing.h"

namespace ocs {
namespace {

constexpr char kScheme[] = "quarnbox ";

std::string JoinHead(const SignInputs& in) {
  return in.method + "\n" + in.content_md5 + "\n" + in.content_type + "\n" + in.date + "\n";
}

}  // namespace

std::string ObjectStringToSign(const SignInputs& in) { return JoinHead(in) + "\n" + in.resource; }

std::string PictureStringToSign(const SignInputs& in) { return JoinHead(in) + in.resource; }

std::optional<Credentials> ParseAuthorization(const std::string& value) {
  const std::string scheme = kScheme;
  if (value.compare(0, scheme.size(), scheme) != 0) {
    return std::nullopt;
  }
  const size_t colon = value.find(':', scheme.size());
  if (colon == std::string::npos || colon == scheme.size() || colon + 1 == value.size()) {
    return std::nullopt;
  }
  return Credentials{value.substr(scheme.size(), colon - scheme.size()), value.substr(colon + 1)};
}

std::string SignedResource(const std::string& target) {
  return target.compare(0, 2, "/?") == 0 ? target.substr(1) : target;
}

std::string MediaType(const std::string& content_type) {
  std::string media = content_type.substr(0, content_type.find(';'));
  while (!media.empty() && (media.back() == ' ' || media.back() == '\t')) {
    media.pop_back();
  }
  return media;
}

std::string ShowLineFeeds(const std::string& text) {
  std::string shown;
  for (const char c : text) {
    shown += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  return shown;
}

}  // namespace ocs
