#include "OcsProcess.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace orca_test {
namespace {

// `text` as one word of a shell command.
std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The exit code of a command run by std::system.
int ExitCode(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

OcsProcess::OcsProcess(const Emulator& emulator) {
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const auto equals = text.find('=');
    const std::string name = text.substr(0, equals);
    if (equals != std::string::npos && name.rfind("OCS_", 0) != 0 && name != "XDG_CONFIG_HOME") {
      env_[name] = text.substr(equals + 1);
    }
  }
  const auto& ends = emulator.endpoints();
  const auto& pool = Emulator::pool(0);
  env_["HOME"] = home_.path();
  env_["OCS_ADDRESS"] = ends.address;
  env_["OCS_UPLOAD_PORT"] = std::to_string(ends.upload);
  env_["OCS_DOWNLOAD_PORT"] = std::to_string(ends.download);
  env_["OCS_PIC_UPLOAD_PORT"] = std::to_string(ends.gateway);
  env_["OCS_PIC_DOWNLOAD_PORT"] = std::to_string(ends.gateway_download);
  env_["OCS_POOL"] = pool.name;
  env_["OCS_ACCESS_KEY"] = pool.ak;
  env_["OCS_SECRET_KEY"] = pool.sk;
}

void OcsProcess::Set(const std::string& name, const std::optional<std::string>& value) {
  if (value) {
    env_[name] = *value;
  } else {
    env_.erase(name);
  }
}

std::string OcsProcess::Command(const std::vector<std::string>& args) const {
  std::string command = "env -i";
  for (const auto& [name, value] : env_) command += " " + Quoted(name + "=" + value);
  command += " " + Quoted(OCS_BINARY_PATH);
  for (const std::string& arg : args) command += " " + Quoted(arg);
  return command;
}

OcsResult OcsProcess::Run(const std::vector<std::string>& args, const std::string& input) const {
  const std::string in = io_.Write("stdin", input);
  const std::string out = io_.path() + "/stdout";
  const std::string err = io_.path() + "/stderr";
  OcsResult result;
  result.exit_code =
      ExitCode(Command(args) + " <" + Quoted(in) + " >" + Quoted(out) + " 2>" + Quoted(err));
  result.out = ReadFile(out);
  result.err = ReadFile(err);
  return result;
}

OcsResult OcsProcess::RunOnTerminal(const std::vector<std::string>& args) const {
  const std::string out = io_.path() + "/terminal";
  OcsResult result;
  result.exit_code =
      ExitCode("script -qec " + Quoted(Command(args)) + " /dev/null </dev/null >" + Quoted(out));
  result.out = ReadFile(out);
  return result;
}

}  // namespace orca_test
