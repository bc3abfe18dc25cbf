#include "emulator/http/Sockets.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <mutex>

namespace ocs {
namespace {

int PortOf(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET) {
    return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
  }
  if (address.ss_family == AF_INET6) {
    return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
  }
  return -1;
}

// Local and remote port of a connected socket; false for anything else.
bool ConnectionPorts(int fd, int* local_port, int* remote_port) {
  sockaddr_storage local{};
  sockaddr_storage remote{};
  socklen_t local_size = sizeof(local);
  socklen_t remote_size = sizeof(remote);
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &local_size) != 0 ||
      ::getpeername(fd, reinterpret_cast<sockaddr*>(&remote), &remote_size) != 0) {
    return false;
  }
  *local_port = PortOf(local);
  *remote_port = PortOf(remote);
  return *local_port >= 0 && *remote_port >= 0;
}

// Serialises the scans of the descriptor table and the resets that replace
// a descriptor, so that no scan looks at a descriptor while it is swapped.
std::mutex& DescriptorMutex() {
  static std::mutex mutex;
  return mutex;
}

// Calls `visit` with every open descriptor of the process until it returns true.
void ForEachDescriptor(const std::function<bool(int)>& visit) {
  std::lock_guard<std::mutex> lock(DescriptorMutex());
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) {
    return;
  }
  const int own = ::dirfd(dir);
  while (const dirent* entry = ::readdir(dir)) {
    char* end = nullptr;
    const long fd = std::strtol(entry->d_name, &end, 10);
    if (*end == '\0' && end != entry->d_name && fd != own && visit(static_cast<int>(fd))) {
      break;
    }
  }
  ::closedir(dir);
}

}  // namespace

int FindConnectionSocket(int local_port, int remote_port) {
  int found = -1;
  ForEachDescriptor([&](int fd) {
    int local = 0;
    int remote = 0;
    if (ConnectionPorts(fd, &local, &remote) && local == local_port && remote == remote_port) {
      found = fd;
      return true;
    }
    return false;
  });
  return found;
}

int BoundPort(int fd) {
  sockaddr_storage address{};
  socklen_t size = sizeof(address);
  return ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0 ? PortOf(address)
                                                                              : -1;
}

void SetAbortOnClose(int fd) {
  const linger abort_on_close{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof(abort_on_close));
}

void ResetConnection(int fd) {
  if (fd < 0) {
    return;
  }
  SetAbortOnClose(fd);
  std::lock_guard<std::mutex> lock(DescriptorMutex());
  const int fresh = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fresh >= 0) {
    ::dup2(fresh, fd);  // closes the connection: with linger 0 that sends RST
    ::close(fresh);
  }
}

void ShutdownConnections(int local_port) {
  ForEachDescriptor([&](int fd) {
    int local = 0;
    int remote = 0;
    if (ConnectionPorts(fd, &local, &remote) && local == local_port) {
      ::shutdown(fd, SHUT_RDWR);
    }
    return false;
  });
}

}  // namespace ocs
