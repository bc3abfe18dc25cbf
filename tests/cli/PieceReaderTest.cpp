// Streamed input cut into pieces, the last one marked.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/LocalFiles.h"

namespace ocs {
namespace {

constexpr size_t kPiece = 4;

struct Piece {
  std::string bytes;
  bool last;
  bool operator==(const Piece& other) const { return bytes == other.bytes && last == other.last; }
};

std::vector<Piece> ReadAllPieces(const std::string& input) {
  // fmemopen cannot open an empty buffer for reading: use a temporary file.
  std::unique_ptr<FILE, int (*)(FILE*)> stream(std::tmpfile(), std::fclose);
  std::fwrite(input.data(), 1, input.size(), stream.get());
  std::rewind(stream.get());
  PieceReader reader(stream.get(), kPiece);
  std::vector<Piece> pieces;
  std::string bytes;
  bool last = false;
  while (reader.Next(bytes, last)) {
    pieces.push_back({bytes, last});
  }
  EXPECT_FALSE(reader.Failed());
  return pieces;
}

TEST(PieceReaderTest, CutsFixedSizePiecesAndMarksOnlyTheLast) {
  struct Case {
    std::string input;
    std::vector<Piece> pieces;
  };
  const Case cases[] = {
      {"", {{"", true}}},
      {"abc", {{"abc", true}}},
      {"abcd", {{"abcd", true}}},
      {"abcde", {{"abcd", false}, {"e", true}}},
      {"abcdefgh", {{"abcd", false}, {"efgh", true}}},
      {"abcdefghi", {{"abcd", false}, {"efgh", false}, {"i", true}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(ReadAllPieces(c.input), c.pieces);
  }
}

}  // namespace
}  // namespace ocs
