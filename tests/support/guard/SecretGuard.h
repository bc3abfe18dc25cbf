// Keeps secret keys out of the library's log records and error messages.
//
// Every test binary built with orca_add_test runs with the guard's log sink
// installed (see TestMain.cpp): a record that holds a watched secret fails
// the running test. The secret keys of the shared fixtures are watched from
// the start; a test with keys of its own adds them with WatchSecret. A test
// that installs a sink of its own passes each record to CheckNoSecret and
// puts the guard back with InstallGuardSink when done (LogCapture does).
#ifndef ORCA_TEST_SUPPORT_GUARD_SECRETGUARD_H_
#define ORCA_TEST_SUPPORT_GUARD_SECRETGUARD_H_

#include <string>

namespace orca_test {

// Adds `secret` to the watched texts for the rest of the process. Secrets
// shorter than 6 bytes are refused (they would match ordinary text).
void WatchSecret(const std::string& secret);

// Fails the running test (from any thread) when `text` holds a watched
// secret; `what` names the text in the failure ("log record", ...).
void CheckNoSecret(const std::string& text, const char* what);

// Makes the guard's sink the library's sink again.
void InstallGuardSink();

}  // namespace orca_test

#endif  // ORCA_TEST_SUPPORT_GUARD_SECRETGUARD_H_
