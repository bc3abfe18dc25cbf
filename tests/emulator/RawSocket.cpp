#include "RawSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace orca_test {
namespace {

int Connect(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    throw std::runtime_error("cannot connect to port " + std::to_string(port));
  }
  return fd;
}

void SendAll(int fd, const std::string& data) {
  size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) {
      throw std::runtime_error("send failed");
    }
    sent += static_cast<size_t>(n);
  }
}

// True once `received` holds a head and all the body its Content-Length
// announces.
bool Complete(const std::string& received) {
  const size_t end = received.find("\r\n\r\n");
  if (end == std::string::npos) {
    return false;
  }
  WireAnswer answer;
  answer.head = received.substr(0, end);
  bool sized = false;
  const std::string length = answer.Header("Content-Length", &sized);
  return sized && received.size() - end - 4 >= std::stoull(length);
}

}  // namespace

int WireAnswer::status() const {
  const size_t space = head.find(' ');
  return space == std::string::npos ? 0 : std::atoi(head.c_str() + space + 1);
}

std::string WireAnswer::Header(const std::string& name, bool* found) const {
  const std::string wanted = "\r\n" + name + ":";
  for (size_t at = head.find("\r\n"); at != std::string::npos; at = head.find("\r\n", at + 2)) {
    if (strncasecmp(head.c_str() + at, wanted.c_str(), wanted.size()) == 0) {
      const size_t start = head.find_first_not_of(' ', at + wanted.size());
      const size_t end = head.find("\r\n", at + 2);
      if (found != nullptr) {
        *found = true;
      }
      return start >= end ? "" : head.substr(start, end - start);
    }
  }
  if (found != nullptr) {
    *found = false;
  }
  return "";
}

WireAnswer ExchangeOnWire(int port, const std::string& request) {
  const int fd = Connect(port);
  SendAll(fd, request);
  std::string received;
  WireAnswer answer;
  char buffer[65536];
  while (!Complete(received)) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, 30000) <= 0) {
      answer.error = ETIMEDOUT;
      break;
    }
    const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
    if (n <= 0) {
      answer.error = n < 0 ? errno : 0;
      break;
    }
    received.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  const size_t end = received.find("\r\n\r\n");
  answer.head = received.substr(0, end);
  answer.body = end == std::string::npos ? "" : received.substr(end + 4);
  return answer;
}

void AbandonUpload(int port, const std::string& head_without_length, size_t announced,
                   size_t sent) {
  const int fd = Connect(port);
  SendAll(fd, head_without_length + "Content-Length: " + std::to_string(announced) + "\r\n\r\n" +
                  std::string(sent, 'x'));
  ::close(fd);
}

}  // namespace orca_test
