// The peak of live heap bytes over a stretch of code, counted exactly
// through the sanitizer runtime's allocation hooks (the dev and tsan
// presets). Without a sanitizer runtime nothing is counted and Supported()
// is false.
//
//   HeapPeak::Start();
//   RunSomething();
//   EXPECT_LT(HeapPeak::Growth(), kBound);
#ifndef ORCA_TEST_FAULTS_HEAPPEAK_H_
#define ORCA_TEST_FAULTS_HEAPPEAK_H_

#include <cstdint>

namespace orca_test {

class HeapPeak {
 public:
  static bool Supported();
  // Starts a new stretch: the peak restarts from the bytes live now.
  static void Start();
  // The highest number of bytes live since Start, minus those live at Start.
  static int64_t Growth();
};

}  // namespace orca_test

#endif  // ORCA_TEST_FAULTS_HEAPPEAK_H_
