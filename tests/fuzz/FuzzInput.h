// Reads a fuzzer's input as a few bytes of choices followed by text lines,
// so that seeds stay readable and mutations keep some structure.
#ifndef ORCA_TEST_FUZZ_FUZZINPUT_H_
#define ORCA_TEST_FUZZ_FUZZINPUT_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace orca_fuzz {

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : text_(reinterpret_cast<const char*>(data), size) {}

  bool empty() const { return at_ >= text_.size(); }
  // The next byte, 0 once the input is used up.
  uint8_t Byte() { return empty() ? 0 : static_cast<uint8_t>(text_[at_++]); }
  // The text up to the next line feed (dropped), or to the end.
  std::string Line() {
    const size_t end = text_.find('\n', at_);
    const size_t stop = end == std::string::npos ? text_.size() : end;
    std::string line = text_.substr(at_, stop - at_);
    at_ = end == std::string::npos ? text_.size() : end + 1;
    return line;
  }
  // Everything not read yet.
  std::string Rest() {
    std::string rest = text_.substr(at_);
    at_ = text_.size();
    return rest;
  }

 private:
  std::string text_;
  size_t at_ = 0;
};

// Ends the run like a crash: the input broke a property the code promises.
[[noreturn]] inline void Broken(const char* what) {
  std::fprintf(stderr, "property broken: %s\n", what);
  std::abort();
}

}  // namespace orca_fuzz

#endif  // ORCA_TEST_FUZZ_FUZZINPUT_H_
