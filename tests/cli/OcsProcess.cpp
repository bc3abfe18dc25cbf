#include "OcsProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pty.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace orca_test {
namespace {

// argv or envp for execve: pointers into `strings`, null-terminated.
std::vector<char*> PointerArray(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  pointers.reserve(strings.size() + 1);
  for (auto& s : strings) {
    pointers.push_back(s.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

std::vector<std::string> Argv(const std::vector<std::string>& args) {
  std::vector<std::string> argv{OCS_BINARY_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

int WaitForExit(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

int ClosedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  close(fd);
  if (!bound) {
    throw std::runtime_error("cannot find a free port");
  }
  return ntohs(address.sin_port);
}

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

std::vector<std::string> OcsProcess::Environment() const {
  std::vector<std::string> env;
  env.reserve(env_.size());
  for (const auto& [name, value] : env_) {
    env.push_back(name);
    env.back().append("=").append(value);
  }
  return env;
}

OcsResult OcsProcess::Run(const std::vector<std::string>& args, const std::string& input) const {
  const std::string in = io_.Write("stdin", input);
  const std::string out = io_.path() + "/stdout";
  const std::string err = io_.path() + "/stderr";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  auto argv = Argv(args);
  auto envp = Environment();
  auto argv_pointers = PointerArray(argv);
  auto envp_pointers = PointerArray(envp);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, argv_pointers.data(),
                                  envp_pointers.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    throw std::runtime_error("cannot start " + argv[0]);
  }
  OcsResult result;
  result.exit_code = WaitForExit(pid);
  result.out = ReadFile(out);
  result.err = ReadFile(err);
  return result;
}

OcsResult OcsProcess::RunOnTerminal(const std::vector<std::string>& args) const {
  auto argv = Argv(args);
  auto envp = Environment();
  auto argv_pointers = PointerArray(argv);
  auto envp_pointers = PointerArray(envp);
  int terminal = -1;
  const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (pid < 0) {
    throw std::runtime_error("forkpty failed");
  }
  if (pid == 0) {
    execve(argv_pointers[0], argv_pointers.data(), envp_pointers.data());
    _exit(127);
  }
  OcsResult result;
  char chunk[4096];
  for (;;) {
    const ssize_t n = read(terminal, chunk, sizeof chunk);
    if (n > 0) {
      result.out.append(chunk, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;  // EIO once the child has closed the terminal
    }
  }
  close(terminal);
  result.exit_code = WaitForExit(pid);
  return result;
}

}  // namespace orca_test
