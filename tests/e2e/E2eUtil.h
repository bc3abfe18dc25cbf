// Helpers shared by the end-to-end suites: an emulator per protocol
// (started once per test binary) and the environment an HTTPS client needs.
#ifndef ORCA_TEST_E2E_E2EUTIL_H_
#define ORCA_TEST_E2E_E2EUTIL_H_

#include <cstdlib>
#include <memory>
#include <string>

#include "Emulator.h"

namespace orca_test {

// The emulator of this binary for HTTP or HTTPS, started on first use and
// stopped at exit. While HTTPS tests run, ORCA_CS_CA_BUNDLE names its CA.
class SharedEmulator {
 public:
  static Emulator& Get(bool https) {
    static std::unique_ptr<Emulator> instances[2];
    std::unique_ptr<Emulator>& slot = instances[https ? 1 : 0];
    if (!slot) {
      EmulatorOptions options;
      options.https = https;
      slot = std::make_unique<Emulator>(options);
    }
    if (https) {
      setenv("ORCA_CS_CA_BUNDLE", slot->ca_bundle().c_str(), 1);
    } else {
      unsetenv("ORCA_CS_CA_BUNDLE");
    }
    slot->ClearFaults();
    slot->SetRedirect("off");
    slot->ClearJournal();
    return *slot;
  }
};

inline std::string ProtocolName(bool https) { return https ? "Https" : "Http"; }

}  // namespace orca_test

#endif  // ORCA_TEST_E2E_E2EUTIL_H_
