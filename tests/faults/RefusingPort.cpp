#include "RefusingPort.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <stdexcept>

namespace orca_test {
namespace {

constexpr int kPollMs = 50;  // how soon a relay notices the port closing

sockaddr_in Loopback(uint32_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  return address;
}

bool SendAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

// Closes with a reset, as a broken connection would.
void Abort(int fd) {
  const linger reset{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof(reset));
  ::close(fd);
}

}  // namespace

RefusingPort::RefusingPort(uint32_t target_port) : target_port_(target_port) {
  socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof(address);
  if (socket_ < 0 || ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (socket_ >= 0) ::close(socket_);
    throw std::runtime_error("RefusingPort: no port to bind");
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread(&RefusingPort::Accept, this);
}

RefusingPort::~RefusingPort() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  opened_.notify_all();
  acceptor_.join();
  for (std::thread& relay : relays_) relay.join();  // the acceptor adds no more
  ::close(socket_);
}

void RefusingPort::Open() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (open_) return;
    // Connections queue from here on, before the acceptor wakes.
    ::listen(socket_, SOMAXCONN);
    open_ = true;
  }
  opened_.notify_all();
}

void RefusingPort::Accept() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    opened_.wait(lock, [this] { return open_ || stop_; });
  }
  while (!stop_) {
    pollfd listening{socket_, POLLIN, 0};
    if (::poll(&listening, 1, kPollMs) <= 0) continue;
    const int client = ::accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    const std::lock_guard<std::mutex> lock(mutex_);
    relays_.emplace_back(&RefusingPort::Relay, this, client);
  }
}

void RefusingPort::Relay(int client) {
  const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in target = Loopback(target_port_);
  if (server < 0 ||
      ::connect(server, reinterpret_cast<const sockaddr*>(&target), sizeof(target)) != 0) {
    if (server >= 0) ::close(server);
    Abort(client);
    return;
  }
  const std::array<int, 2> fds = {client, server};
  std::array<bool, 2> reading = {true, true};
  std::array<char, 65536> buffer{};
  bool broken = false;
  while (!stop_ && !broken && (reading[0] || reading[1])) {
    std::array<pollfd, 2> polled{};
    for (size_t i = 0; i < 2; ++i) polled[i] = {reading[i] ? fds[i] : -1, POLLIN, 0};
    if (::poll(polled.data(), polled.size(), kPollMs) <= 0) continue;
    for (size_t i = 0; i < 2 && !broken; ++i) {
      if (polled[i].revents == 0) continue;
      const int other = fds[1 - i];
      const ssize_t got = ::recv(fds[i], buffer.data(), buffer.size(), 0);
      if (got > 0) {
        broken = !SendAll(other, buffer.data(), static_cast<size_t>(got));
      } else if (got == 0) {  // that side is done sending
        ::shutdown(other, SHUT_WR);
        reading[i] = false;
      } else {
        broken = true;
      }
    }
  }
  if (broken) {
    Abort(client);
    Abort(server);
  } else {
    ::close(client);
    ::close(server);
  }
}

}  // namespace orca_test
