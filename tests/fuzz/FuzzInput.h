// Helpers of the fuzz targets: an input read as choice bytes and text lines
// (seeds stay readable), a scratch folder, and the end of a run that broke a
// promised property.
#ifndef ORCA_TEST_FUZZ_FUZZINPUT_H_
#define ORCA_TEST_FUZZ_FUZZINPUT_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace orca_fuzz {

// Ends the run like a crash: the input broke a property the code promises.
[[noreturn]] inline void Broken(const char* what) {
  std::fprintf(stderr, "property broken: %s\n", what);
  std::abort();
}

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : text_(reinterpret_cast<const char*>(data), size) {}

  bool empty() const { return at_ >= text_.size(); }
  // The next byte, 0 once the input is used up.
  uint8_t Byte() { return empty() ? 0 : static_cast<uint8_t>(text_[at_++]); }
  // The text up to the next line feed (dropped), or to the end.
  std::string Line() {
    const size_t end = std::min(text_.find('\n', at_), text_.size());
    std::string line = text_.substr(at_, end - at_);
    at_ = end + 1;
    return line;
  }
  // Everything not read yet.
  std::string Rest() {
    std::string rest = empty() ? "" : text_.substr(at_);
    at_ = text_.size();
    return rest;
  }

 private:
  std::string text_;
  size_t at_ = 0;
};

// A private temporary folder, removed with the object.
class ScratchDir {
 public:
  ScratchDir() : path_(std::filesystem::temp_directory_path().string() + "/fuzz-XXXXXX") {
    if (::mkdtemp(path_.data()) == nullptr) Broken("no temporary folder");
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace orca_fuzz

#endif  // ORCA_TEST_FUZZ_FUZZINPUT_H_
