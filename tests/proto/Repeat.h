// Builds large test inputs.
#ifndef ORCA_TESTS_PROTO_REPEAT_H_
#define ORCA_TESTS_PROTO_REPEAT_H_

#include <string>

namespace proto {

// `piece` written `times` times.
inline std::string Repeat(const std::string& piece, size_t times) {
  std::string text;
  text.reserve(piece.size() * times);
  for (size_t i = 0; i < times; ++i) {
    text += piece;
  }
  return text;
}

}  // namespace proto

#endif  // ORCA_TESTS_PROTO_REPEAT_H_
