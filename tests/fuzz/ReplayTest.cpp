// Replays a fuzz target's seed corpus and crash regressions through its entry
// point, under the sanitizers of the test suite (scripts/fuzz.sh fuzzes).
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

TEST(FuzzReplayTest, SeedsAndRegressionsRunClean) {
  size_t replayed = 0;
  for (const char* folder : {ORCA_FUZZ_CORPUS, ORCA_FUZZ_REGRESSIONS}) {
    std::error_code missing;
    for (const auto& entry : std::filesystem::directory_iterator(folder, missing)) {
      std::ifstream in(entry.path(), std::ios::binary);
      const std::string input{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      std::cerr << "replaying " << entry.path() << std::endl;  // a crash ends the process
      LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
      ++replayed;
    }
  }
  EXPECT_GT(replayed, 0u) << "no seeds in " << ORCA_FUZZ_CORPUS;
}
