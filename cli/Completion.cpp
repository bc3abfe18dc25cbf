#include "cli/Completion.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <vector>

namespace ocs {
namespace {

// The words completed after one chain of subcommands, "" for none and
// "/pic/put" for `pic put`.
struct Level {
  std::string path;
  std::vector<std::string> words;
};

bool Visible(const CLI::App* command) { return !command->get_group().empty(); }

// Appends the names of the visible options of `app` to `words` (once:
// subcommands repeat the help flags), and those of the options that take a
// value to `valued`.
void AddOptionNames(const CLI::App& app, std::vector<std::string>& words,
                    std::set<std::string>& valued) {
  const auto options = app.get_options([](const CLI::Option* option) {
    return option->nonpositional() && !option->get_group().empty();
  });
  for (const CLI::Option* option : options) {
    std::vector<std::string> names;
    for (const auto& name : option->get_snames()) names.push_back("-" + name);
    for (const auto& name : option->get_lnames()) names.push_back("--" + name);
    if (option->get_expected_min() > 0) valued.insert(names.begin(), names.end());
    for (const auto& name : names) {
      if (std::find(words.begin(), words.end(), name) == words.end()) words.push_back(name);
    }
  }
}

// The names of `command`: its name and its aliases.
std::vector<std::string> Names(const CLI::App& command) {
  std::vector<std::string> names{command.get_name()};
  names.insert(names.end(), command.get_aliases().begin(), command.get_aliases().end());
  return names;
}

// Adds the level of `app` at `path`, then those of its subcommands.
// `inherited` holds the options of the parents that reach `app`.
void Walk(const CLI::App& app, const std::string& path, const std::vector<std::string>& inherited,
          std::vector<Level>& levels, std::set<std::string>& valued) {
  std::vector<std::string> options;
  if (app.get_fallthrough()) options = inherited;
  AddOptionNames(app, options, valued);
  const auto subcommands = app.get_subcommands(Visible);
  Level level{path, {}};
  for (const CLI::App* command : subcommands) {
    const auto names = Names(*command);
    level.words.insert(level.words.end(), names.begin(), names.end());
  }
  level.words.insert(level.words.end(), options.begin(), options.end());
  levels.push_back(level);
  for (const CLI::App* command : subcommands) {
    for (const auto& name : Names(*command)) {
      Walk(*command, std::string(path).append("/").append(name), options, levels, valued);
    }
  }
}

std::string Join(const std::vector<std::string>& words, const char* separator) {
  std::string text;
  for (const auto& word : words) text += (text.empty() ? "" : separator) + word;
  return text;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

// @PATHS@ and @VALUED@ are `case` patterns: the subcommand paths, and the
// options that take a value (the word after one is skipped).
constexpr char kBashScript[] =
    R"(# bash completion for @PROGRAM@, printed by `@PROGRAM@ --completion bash`
_@PROGRAM@() {
  local cur=${COMP_WORDS[COMP_CWORD]} path="" words="" i
  for ((i = 1; i < COMP_CWORD; i++)); do
    case ${COMP_WORDS[i]} in
      @VALUED@) ((i++)) ;;
      *) case $path/${COMP_WORDS[i]} in
           @PATHS@) path+=/${COMP_WORDS[i]} ;;
         esac ;;
    esac
  done
  case ${COMP_WORDS[COMP_CWORD - 1]} in
    @VALUED@) return ;;
  esac
  case $path in
@LEVELS@  esac
  mapfile -t COMPREPLY < <(compgen -W "$words" -- "$cur")
}
complete -o default -F _@PROGRAM@ @PROGRAM@
)";

}  // namespace

std::string BashCompletion(const CLI::App& app, const std::string& program) {
  std::vector<Level> levels;
  std::set<std::string> valued;
  Walk(app, "", {}, levels, valued);
  std::vector<std::string> paths;
  std::string cases;
  for (const auto& level : levels) {
    if (!level.path.empty()) paths.push_back(level.path);
    cases += "    \"" + level.path + "\") words=\"" + Join(level.words, " ") + "\" ;;\n";
  }
  std::string script = kBashScript;
  ReplaceAll(script, "@PROGRAM@", program);
  ReplaceAll(script, "@VALUED@", Join({valued.begin(), valued.end()}, "|"));
  ReplaceAll(script, "@PATHS@", Join(paths, "|"));
  ReplaceAll(script, "@LEVELS@", cases);
  return script;
}

void AddCompletionOption(CLI::App& app, const std::string& program) {
  app.add_option_function<std::string>(
         "--completion",
         [&app, program](const std::string&) {
           std::fputs(BashCompletion(app, program).c_str(), stdout);
           throw CLI::Success();
         },
         "Print the completion script for SHELL (bash)")
      ->check(CLI::IsMember({"bash"}))
      ->group("");
}

}  // namespace ocs
