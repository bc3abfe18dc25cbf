// Streamed input cut into pieces, the last one marked.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cli/LocalFiles.h"

namespace ocs {
namespace {

using Pieces = std::vector<std::pair<std::string, bool>>;  // bytes, last

Pieces ReadAllPieces(const std::string& input) {
  // fmemopen cannot open an empty buffer for reading: use a temporary file.
  std::unique_ptr<FILE, int (*)(FILE*)> stream(std::tmpfile(), std::fclose);
  std::fwrite(input.data(), 1, input.size(), stream.get());
  std::rewind(stream.get());
  PieceReader reader(stream.get(), 4);
  Pieces pieces;
  std::string bytes;
  bool last = false;
  while (reader.Next(bytes, last)) pieces.emplace_back(bytes, last);
  EXPECT_FALSE(reader.Failed());
  return pieces;
}

TEST(PieceReaderTest, CutsFixedSizePiecesAndMarksOnlyTheLast) {
  const std::pair<std::string, Pieces> cases[] = {
      {"", {{"", true}}},
      {"abc", {{"abc", true}}},
      {"abcd", {{"abcd", true}}},
      {"abcde", {{"abcd", false}, {"e", true}}},
      {"abcdefghi", {{"abcd", false}, {"efgh", false}, {"i", true}}},
  };
  for (const auto& [input, pieces] : cases) {
    EXPECT_EQ(ReadAllPieces(input), pieces) << input;
  }
}

}  // namespace
}  // namespace ocs
