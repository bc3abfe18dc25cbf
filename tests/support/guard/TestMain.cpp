// main() of every test binary: GoogleTest with the secret guard's log sink.
#include <gtest/gtest.h>

#include "SecretGuard.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  orca_test::InstallGuardSink();
  return RUN_ALL_TESTS();
}
