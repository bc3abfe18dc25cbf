#include "cli/Credentials.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace ocs {
namespace {

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) {
    return "";
  }
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string GetEnv(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? "" : value;
}

std::string OctalMode(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// Reads the whole file behind `fd`.
bool ReadAll(int fd, std::string& text) {
  char chunk[4096];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n == 0) {
      return true;
    }
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    text.append(chunk, static_cast<size_t>(n));
  }
}

// Reads the file behind `fd` unless group or others have access to it;
// returns the problem, or "" on success.
std::string ReadPrivateFile(int fd, const std::string& path, std::string& text) {
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    return "cannot read profile " + path + ": " + std::strerror(errno);
  }
  if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    return "profile " + path + " is accessible by group or others (mode " +
           OctalMode(info.st_mode) + "); refusing it. Run: chmod 600 " + path;
  }
  if (!ReadAll(fd, text)) {
    return "cannot read profile " + path + ": " + std::strerror(errno);
  }
  return "";
}

std::optional<Keys> KeysFromEnvironment(std::string& problem) {
  Keys keys{GetEnv("OCS_ACCESS_KEY"), GetEnv("OCS_SECRET_KEY")};
  if (keys.access_key.empty() && keys.secret_key.empty()) {
    return std::nullopt;
  }
  if (keys.access_key.empty() || keys.secret_key.empty()) {
    problem = keys.access_key.empty() ? "OCS_SECRET_KEY is set but OCS_ACCESS_KEY is not"
                                      : "OCS_ACCESS_KEY is set but OCS_SECRET_KEY is not";
    return std::nullopt;
  }
  return keys;
}

}  // namespace

std::optional<Keys> ParseProfile(const std::string& text, std::string& problem) {
  Keys keys;
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    line = Trim(line);
    if (line.empty() || line[0] == '#') {
      continue;
    }
    const auto equals = line.find('=');
    const std::string name = Trim(line.substr(0, equals));
    std::string* field = name == "access_key"   ? &keys.access_key
                         : name == "secret_key" ? &keys.secret_key
                                                : nullptr;
    if (equals == std::string::npos || field == nullptr) {
      problem =
          "line " + std::to_string(number) + " is not \"access_key = ...\" or \"secret_key = ...\"";
      return std::nullopt;
    }
    *field = Trim(line.substr(equals + 1));
  }
  if (keys.access_key.empty() || keys.secret_key.empty()) {
    problem = "it needs both access_key and secret_key";
    return std::nullopt;
  }
  return keys;
}

std::optional<Keys> ReadProfile(const std::string& path, std::string& problem) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    problem = "cannot open profile " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  std::string text;
  problem = ReadPrivateFile(fd, path, text);
  close(fd);
  if (!problem.empty()) {
    return std::nullopt;
  }
  auto keys = ParseProfile(text, problem);
  if (!keys) {
    problem = "profile " + path + ": " + problem;
  }
  return keys;
}

std::string DefaultProfilePath() {
  const std::string config_home = GetEnv("XDG_CONFIG_HOME");
  if (!config_home.empty()) {
    return config_home + "/ocs/credentials";
  }
  const std::string home = GetEnv("HOME");
  return home.empty() ? "" : home + "/.config/ocs/credentials";
}

std::optional<Keys> LoadKeys(const std::string& profile, std::string& problem) {
  problem.clear();
  if (!profile.empty()) {
    return ReadProfile(profile, problem);
  }
  if (auto keys = KeysFromEnvironment(problem); keys || !problem.empty()) {
    return keys;
  }
  const std::string fallback = DefaultProfilePath();
  struct stat info {};
  if (!fallback.empty() && stat(fallback.c_str(), &info) == 0) {
    return ReadProfile(fallback, problem);
  }
  problem =
      "no access keys: set OCS_ACCESS_KEY and OCS_SECRET_KEY, or write them to a profile file "
      "(" +
      (fallback.empty() ? std::string("--profile PATH") : fallback) + ", mode 600)";
  return std::nullopt;
}

}  // namespace ocs
