// Local files and standard streams as the commands use them. "-" names
// standard input or standard output.
#ifndef OCS_CLI_LOCAL_FILES_H_
#define OCS_CLI_LOCAL_FILES_H_

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace ocs {

inline constexpr char kStandardStream[] = "-";

// The size of the regular file at `path`; nothing, with a message naming
// the path and the cause, when it is missing, unreadable or not a file.
std::optional<uint64_t> RegularFileSize(const std::string& path, std::string& problem);

// Reads the whole regular file at `path` into `data`.
bool ReadWholeFile(const std::string& path, std::string& data, std::string& problem);

// Writes `size` bytes to the file `target` (created or replaced) or, for
// "-", to standard output.
bool WriteOutput(const std::string& target, const char* data, size_t size, std::string& problem);

// Reads a stream in pieces of a fixed size and tells which piece is the last,
// by reading one piece ahead. An empty stream gives one empty last piece.
class PieceReader {
 public:
  PieceReader(FILE* stream, size_t piece_size);

  // The next piece in `piece`; `last` is true for the final one. Returns
  // false at the end of the stream (after the last piece) or on a read error
  // (then Failed() is true).
  bool Next(std::string& piece, bool& last);
  bool Failed() const { return failed_; }

 private:
  // Fills `piece` with up to piece_size_ bytes; false on a read error.
  bool Fill(std::string& piece);

  FILE* const stream_;
  const size_t piece_size_;
  std::string ahead_;
  bool started_ = false;
  bool done_ = false;
  bool failed_ = false;
};

}  // namespace ocs

#endif  // OCS_CLI_LOCAL_FILES_H_
