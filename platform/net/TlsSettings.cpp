#include "net/TlsSettings.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "log/VekLog.h"

namespace Orca {
namespace Net {
namespace {

constexpr char kLogModule[] = "platform.Net";

const char* Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

void WarnInsecureOnce() {
  static std::once_flag warned;
  std::call_once(warned, [] {
    veklog::Write(veklog::kLevelWarning, kLogModule,
                  "[%s]TLS peer verification is off (ORCA_CS_TLS_INSECURE=1)[%s(%d)]",
                  "Orca::Net::CurrentTlsSettings", __FILE__, __LINE__);
  });
}

}  // namespace

TlsSettings CurrentTlsSettings() {
  TlsSettings settings;
  settings.ca_bundle = Env("ORCA_CS_CA_BUNDLE");
  settings.verify = std::strcmp(Env("ORCA_CS_TLS_INSECURE"), "1") != 0;
  if (!settings.verify) {
    WarnInsecureOnce();
  }
  return settings;
}

}  // namespace Net
}  // namespace Orca
