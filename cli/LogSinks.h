// Where the library's log records go while the tool runs: with --verbose,
// every record to standard error; otherwise nowhere, so that a failure shows
// only the tool's own one-line message. Either way the first failure record
// (level 5) is kept, since the picture client keeps no error state of its own.
#ifndef OCS_CLI_LOG_SINKS_H_
#define OCS_CLI_LOG_SINKS_H_

#include <mutex>
#include <string>

namespace ocs {

class LogRecorder {
 public:
  // Installs this recorder as the library's log sink until destruction.
  explicit LogRecorder(bool verbose);
  ~LogRecorder();
  LogRecorder(const LogRecorder&) = delete;
  LogRecorder& operator=(const LogRecorder&) = delete;

  // The first failure record so far, without its leading function name and
  // trailing source position; empty when there was none.
  std::string FirstFailure();

 private:
  static void Sink(int level, const char* module, const char* message, void* context);

  const bool verbose_;
  std::mutex mutex_;
  std::string first_failure_;
};

// "[Ns::Class::Fn][PicClient]text[src/File.cpp(12)]" -> "[PicClient]text".
std::string StripRecordFrame(const std::string& record);

}  // namespace ocs

#endif  // OCS_CLI_LOG_SINKS_H_
