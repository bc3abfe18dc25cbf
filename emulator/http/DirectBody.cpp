#include "emulator/http/DirectBody.h"

#include <poll.h>
#include <sys/socket.h>

#include <string_view>
#include <vector>

#include "emulator/http/Sockets.h"

namespace ocs {
namespace {

constexpr std::string_view kCheckedVersion = "0.11.4";
constexpr uint64_t kThreshold = 1 << 20;
constexpr size_t kPiece = 1 << 20;
constexpr int kStallTimeoutMs = 60000;

}  // namespace

int DirectBodySocket(const httplib::Request& req, uint64_t length) {
  if (CPPHTTPLIB_VERSION != kCheckedVersion || length < kThreshold || req.ssl != nullptr ||
      req.has_header("Content-Encoding")) {
    return -1;
  }
  return FindConnectionSocket(req.local_port, req.remote_port);
}

bool ReadRestDirectly(int fd, uint64_t remaining,
                      const std::function<bool(const char*, size_t)>& sink) {
  std::vector<char> buffer(static_cast<size_t>(std::min<uint64_t>(remaining, kPiece)));
  while (remaining > 0) {
    pollfd ready{fd, POLLIN, 0};
    const ssize_t got =
        ::poll(&ready, 1, kStallTimeoutMs) == 1
            ? ::recv(fd, buffer.data(), std::min<uint64_t>(remaining, buffer.size()), 0)
            : -1;
    if (got <= 0 || !sink(buffer.data(), static_cast<size_t>(got))) {
      ::shutdown(fd, SHUT_RDWR);
      return false;
    }
    remaining -= static_cast<uint64_t>(got);
  }
  return true;
}

}  // namespace ocs
