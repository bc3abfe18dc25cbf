// Shell completion for ocs, generated from the command-line definition
// itself, so that it follows every subcommand and option.
#ifndef OCS_CLI_COMPLETION_H_
#define OCS_CLI_COMPLETION_H_

#include <string>

#include "CLI/CLI.hpp"

namespace ocs {

// A bash completion script for `program`, described by `app`: after the
// subcommands typed so far it offers their subcommands and visible options
// (with their parents' options where those fall through). Option values and
// operands complete as file names.
std::string BashCompletion(const CLI::App& app, const std::string& program);

// Adds to `app` the hidden option `--completion bash`, which prints
// BashCompletion(app, program) and ends the parse with CLI::Success.
void AddCompletionOption(CLI::App& app, const std::string& program);

}  // namespace ocs

#endif  // OCS_CLI_COMPLETION_H_
