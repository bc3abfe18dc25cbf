// Helpers shared by the end-to-end suites: an emulator per protocol
// (started once per test binary), test data and memory downloads.
#ifndef ORCA_TEST_E2E_E2EUTIL_H_
#define ORCA_TEST_E2E_E2EUTIL_H_

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "Emulator.h"
#include "OrcaCloudStorage/StorageClient.h"

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

// Suites parameterised by protocol (true: HTTPS) against the shared emulator.
class ProtocolTest : public ::testing::TestWithParam<bool> {
 protected:
  Emulator& emulator_ = SharedEmulator::Get(GetParam());
};

inline std::string ProtocolName(const ::testing::TestParamInfo<bool>& protocol) {
  return protocol.param ? "Https" : "Http";
}

// The memory download of `url` (of `range` unless empty) into `data`.
inline bool Fetch(Orca::CloudStorage::CObjectClient& client, const std::string& url,
                  std::string& data, std::string range = "") {
  char* buffer = nullptr;
  uint32_t length = 0;
  if (!(range.empty() ? client.DownloadFile(&buffer, length, url)
                      : client.DownloadFile(&buffer, length, range, url))) {
    return false;
  }
  data.assign(buffer, length);
  delete[] buffer;
  return true;
}

}  // namespace orca_test

#endif  // ORCA_TEST_E2E_E2EUTIL_H_
