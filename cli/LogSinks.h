// Where the library's log records go while the tool runs: with --verbose,
// every record to standard error; otherwise nowhere, so that a failure shows
// only the tool's own one-line message. Either way the first failure record
// (level 5) is kept, since the picture client keeps no error state of its own,
// and each retry (level 4) is shown as a short notice through the progress bar.
#ifndef OCS_CLI_LOG_SINKS_H_
#define OCS_CLI_LOG_SINKS_H_

#include <mutex>
#include <optional>
#include <string>

#include "cli/ProgressBar.h"

namespace ocs {

class LogRecorder {
 public:
  // Installs this recorder as the library's log sink until destruction;
  // retry notices go to `bar`.
  LogRecorder(bool verbose, ProgressBar& bar);
  ~LogRecorder();
  LogRecorder(const LogRecorder&) = delete;
  LogRecorder& operator=(const LogRecorder&) = delete;

  // The first failure record so far, without its leading function name and
  // trailing source position; empty when there was none.
  std::string FirstFailure();

 private:
  static void Sink(int level, const char* module, const char* message, void* context);

  const bool verbose_;
  ProgressBar& bar_;
  std::mutex mutex_;
  std::string first_failure_;
};

// "[Ns::Class::Fn][PicClient]text[src/File.cpp(12)]" -> "[PicClient]text".
std::string StripRecordFrame(const std::string& record);

// The notice for a retry record, "[Fn][Client]retry: attempt 2 of 5 in
// 180 ms, after status code[503]" -> "retry 2/5 in 180 ms (status
// code[503])"; nothing for any other record.
std::optional<std::string> RetryNotice(const std::string& record);

}  // namespace ocs

#endif  // OCS_CLI_LOG_SINKS_H_
