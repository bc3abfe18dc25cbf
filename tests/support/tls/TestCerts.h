// Throw-away PKI for TLS tests: a self-signed server certificate that is
// also the only CA to trust.
#ifndef ORCA_TEST_SUPPORT_TLS_TESTCERTS_H_
#define ORCA_TEST_SUPPORT_TLS_TESTCERTS_H_

#include <string>

namespace orca_test {

struct TestPki {
  std::string ca_cert;      // PEM file of the certificate, as the CA to trust
  std::string server_cert;  // PEM file of the same certificate, for the server
  std::string server_key;   // PEM file of the server's private key
};

// Writes a new certificate for "localhost" and 127.0.0.1, and its key, into
// the folder `dir`, which must exist. Returns the three file paths.
TestPki MakeTestPki(const std::string& dir);

}  // namespace orca_test

#endif  // ORCA_TEST_SUPPORT_TLS_TESTCERTS_H_
