// Replays a fuzz target's seed corpus and its crash regressions through the
// target's entry point, under the sanitizers of the normal test suite. The
// fuzz preset builds the targets themselves (scripts/fuzz.sh).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

TEST(FuzzReplayTest, SeedsAndRegressionsRunClean) {
  size_t replayed = 0;
  for (const char* folder : {ORCA_FUZZ_CORPUS, ORCA_FUZZ_REGRESSIONS}) {
    std::error_code missing;
    for (const auto& entry : std::filesystem::directory_iterator(folder, missing)) {
      std::ifstream in(entry.path(), std::ios::binary);
      const std::string input{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      // A crash ends the process: name the input first.
      std::fprintf(stderr, "replaying %s\n", entry.path().c_str());
      LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
      ++replayed;
    }
  }
  EXPECT_GT(replayed, 0u) << "no seeds in " << ORCA_FUZZ_CORPUS;
}

}  // namespace
