// Runs the ocs binary as a child process, as a user or a script would, with
// the settings of a test emulator in its environment.
#ifndef ORCA_TESTS_CLI_OCS_PROCESS_H_
#define ORCA_TESTS_CLI_OCS_PROCESS_H_

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Emulator.h"
#include "TestFiles.h"

namespace orca_test {

struct OcsResult {
  int exit_code = -1;
  std::string out;  // standard output (everything, on a terminal)
  std::string err;  // standard error (empty on a terminal)
};

class OcsProcess {
 public:
  // The child's environment: this process's, without OCS_* variables, with
  // HOME in a private directory, and the OCS_* settings for pool 0 of
  // `emulator` (object and picture ports, keys).
  explicit OcsProcess(const Emulator& emulator);

  // Sets a variable of the child's environment, or removes it (nullopt).
  void Set(const std::string& name, const std::optional<std::string>& value);
  const std::string& home() const { return home_.path(); }

  // Runs ocs with `args`, `input` on standard input; waits for it.
  OcsResult Run(const std::vector<std::string>& args, const std::string& input = "") const;
  // Runs ocs on a pseudo-terminal (through script(1)).
  OcsResult RunOnTerminal(const std::vector<std::string>& args) const;

 private:
  // The shell command running ocs with `args` in the child's environment.
  std::string Command(const std::vector<std::string>& args) const;

  TempDir home_;
  TempDir io_;
  std::map<std::string, std::string> env_;
};

}  // namespace orca_test

#endif  // ORCA_TESTS_CLI_OCS_PROCESS_H_
