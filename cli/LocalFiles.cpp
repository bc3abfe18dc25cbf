#include "cli/LocalFiles.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace ocs {
namespace {

std::string Cause(const std::string& path, int error) { return path + ": " + std::strerror(error); }

}  // namespace

std::optional<uint64_t> RegularFileSize(const std::string& path, std::string& problem) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    problem = Cause(path, errno);
    return std::nullopt;
  }
  if (!S_ISREG(info.st_mode)) {
    problem = path + ": not a regular file";
    return std::nullopt;
  }
  return static_cast<uint64_t>(info.st_size);
}

bool ReadWholeFile(const std::string& path, std::string& data, std::string& problem) {
  if (!RegularFileSize(path, problem)) {
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    problem = Cause(path, errno);
    return false;
  }
  data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    problem = Cause(path, errno);
    return false;
  }
  return true;
}

bool WriteOutput(const std::string& target, const char* data, size_t size, std::string& problem) {
  if (target == kStandardStream) {
    if (std::fwrite(data, 1, size, stdout) != size || std::fflush(stdout) != 0) {
      problem = Cause("standard output", errno);
      return false;
    }
    return true;
  }
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(data, static_cast<std::streamsize>(size));
  out.close();
  if (!out) {
    problem = Cause(target, errno);
    return false;
  }
  return true;
}

PieceReader::PieceReader(FILE* stream, size_t piece_size)
    : stream_(stream), piece_size_(piece_size) {}

bool PieceReader::Fill(std::string& piece) {
  piece.resize(piece_size_);
  size_t got = 0;
  while (got < piece_size_) {
    const size_t n = std::fread(&piece[got], 1, piece_size_ - got, stream_);
    got += n;
    if (n == 0) {
      break;
    }
  }
  piece.resize(got);
  return std::ferror(stream_) == 0;
}

bool PieceReader::Next(std::string& piece, bool& last) {
  if (done_ || failed_) {
    return false;
  }
  if (!started_) {
    started_ = true;
    if (!Fill(ahead_)) {
      failed_ = true;
      return false;
    }
  }
  piece.swap(ahead_);
  // A short piece ends the stream; a full one needs a look at the next.
  if (piece.size() < piece_size_) {
    ahead_.clear();
  } else if (!Fill(ahead_)) {
    failed_ = true;
    return false;
  }
  last = ahead_.empty();
  done_ = last;
  return true;
}

}  // namespace ocs
