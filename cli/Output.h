// What a command prints: its result on standard output (a line of text, or
// one JSON object with --json), failures on standard error.
#ifndef OCS_CLI_OUTPUT_H_
#define OCS_CLI_OUTPUT_H_

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace ocs {

// Exit codes of the tool.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;      // the operation failed
inline constexpr int kExitUsage = 2;        // bad command line or missing settings
inline constexpr int kExitCancelled = 130;  // SIGINT or SIGTERM (Interrupts.h)

// The fields of one command's result, in the order added.
class Result {
 public:
  using Value = std::variant<std::string, uint64_t, double, bool>;

  Result& Add(std::string name, Value value);
  // The fields as one JSON object, without a trailing newline.
  std::string Json() const;
  // Prints the JSON object when `json`, else `text` (when not empty), each
  // followed by a newline.
  void Print(bool json, const std::string& text) const;

 private:
  std::vector<std::pair<std::string, Value>> fields_;
};

// Seconds since construction, for the results' "seconds" fields.
class Stopwatch {
 public:
  double Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Prints "ocs: <message>" on standard error and returns `exit_code`.
int Complain(const std::string& message, int exit_code = kExitFailure);
// Prints "ocs: cancelled" on standard error; returns kExitCancelled.
int ComplainCancelled();

}  // namespace ocs

#endif  // OCS_CLI_OUTPUT_H_
