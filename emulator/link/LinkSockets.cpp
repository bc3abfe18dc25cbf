#include "emulator/link/LinkSockets.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "emulator/http/Sockets.h"

namespace ocs {
namespace {

void SetNoDelay(int fd) {
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
}

// A listening socket on the first address of `candidates` that takes one.
UniqueFd ListenOnFirst(const addrinfo* candidates) {
  for (const addrinfo* at = candidates; at != nullptr; at = at->ai_next) {
    UniqueFd fd(
        ::socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, at->ai_protocol));
    const int on = 1;
    if (fd && ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) == 0 &&
        ::bind(fd.get(), at->ai_addr, at->ai_addrlen) == 0 &&
        ::listen(fd.get(), kListenBacklog) == 0) {
      return fd;
    }
  }
  return UniqueFd();
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  reset(other.release());
  return *this;
}

int UniqueFd::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) {
    ::close(fd_);
  }
  fd_ = fd;
}

UniqueFd ListenOn(const std::string& host, int port, int* bound_port, std::string* why) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* candidates = nullptr;
  const std::string service = std::to_string(port);
  if (const int failed = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &candidates);
      failed != 0) {
    *why = ::gai_strerror(failed);
    return UniqueFd();
  }
  UniqueFd fd = ListenOnFirst(candidates);
  ::freeaddrinfo(candidates);
  *bound_port = fd ? BoundPort(fd.get()) : -1;
  if (*bound_port <= 0) {
    *why = std::strerror(errno);
    return UniqueFd();
  }
  return fd;
}

UniqueFd AcceptFrom(int listener) {
  UniqueFd fd(::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
  if (fd) {
    SetNoDelay(fd.get());
  }
  return fd;
}

UniqueFd ConnectToLoopback(int port) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd) {
    return fd;
  }
  SetNoDelay(fd.get());
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 &&
      errno != EINPROGRESS) {
    return UniqueFd();
  }
  return fd;
}

int ConnectError(int fd) {
  int error = 0;
  socklen_t size = sizeof(error);
  return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 ? error : errno;
}

size_t UnsentBytes(int fd) {
  int queued = 0;
  return ::ioctl(fd, SIOCOUTQ, &queued) == 0 && queued > 0 ? static_cast<size_t>(queued) : 0;
}

void CloseWithReset(UniqueFd fd) { SetAbortOnClose(fd.get()); }  // `fd` closes here

UniqueFd MakeStopSignal() { return UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)); }

void RaiseStopSignal(int fd) {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(fd, &one, sizeof(one));
}

}  // namespace ocs
