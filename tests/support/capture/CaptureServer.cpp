#include "CaptureServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string_view>

namespace orca_test {
namespace {

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The method, target, version and header fields of a request head.
CapturedRequest ParseHead(const std::string& head) {
  CapturedRequest request;
  std::istringstream lines(head);
  std::string line;
  std::getline(lines, line);
  std::istringstream(line) >> request.method >> request.target >> request.version;
  while (std::getline(lines, line)) {
    const size_t colon = line.find(':');
    if (colon != std::string::npos) {
      request.headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
    }
  }
  return request;
}

// Clients read only the status code, so every reason phrase is the same.
std::string StatusAndHeaders(const Reply& reply) {
  std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " Scripted\r\n";
  for (const auto& field : reply.headers) {
    head += field.first + ": " + field.second + "\r\n";
  }
  if (reply.framing == Reply::Framing::kContentLength) {
    head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
  } else if (reply.framing == Reply::Framing::kChunked) {
    head += "Transfer-Encoding: chunked\r\n";
  }
  return head + "\r\n";
}

std::string BodyOnWire(const Reply& reply) {
  if (reply.framing != Reply::Framing::kChunked) {
    return reply.body;
  }
  std::string wire;
  const size_t step = reply.chunk_size > 0 ? reply.chunk_size : 1;
  for (size_t offset = 0; offset < reply.body.size(); offset += step) {
    const std::string chunk = reply.body.substr(offset, step);
    char size_line[32];
    std::snprintf(size_line, sizeof(size_line), "%zx\r\n", chunk.size());
    wire += size_line + chunk + "\r\n";
  }
  return wire + "0\r\n\r\n";
}

}  // namespace

std::optional<std::string> CapturedRequest::Header(const std::string& name) const {
  for (const auto& field : headers) {
    if (strcasecmp(field.first.c_str(), name.c_str()) == 0) {
      return field.second;
    }
  }
  return std::nullopt;
}

// One accepted socket. The destructor of the server shuts every open one
// down, which ends reads, writes and stalls alike.
class CaptureServer::Connection {
 public:
  Connection(CaptureServer& server, int fd) : server_(server), fd_(fd) {}
  ~Connection() { Close(); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // The bytes up to `delimiter` (which is consumed, not returned).
  bool ReadUntil(std::string_view delimiter, std::string& out) {
    size_t found;
    while ((found = buffer_.find(delimiter)) == std::string::npos) {
      if (!Fill()) {
        return false;
      }
    }
    out = buffer_.substr(0, found);
    buffer_.erase(0, found + delimiter.size());
    return true;
  }

  bool ReadExactly(size_t size, std::string& out) {
    while (buffer_.size() < size) {
      if (!Fill()) {
        return false;
      }
    }
    out.append(buffer_, 0, size);
    buffer_.erase(0, size);
    return true;
  }

  bool WriteAll(std::string_view data) {
    while (!data.empty()) {
      const ssize_t sent = send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
      if (sent <= 0) {
        return false;
      }
      data.remove_prefix(static_cast<size_t>(sent));
    }
    return true;
  }

  // Waits until the peer sends something, closes, or the server stops.
  void WaitReadable() {
    pollfd socket{fd_, POLLIN, 0};
    while (poll(&socket, 1, -1) < 0 && errno == EINTR) {
    }
  }

  // Waits until the peer closes or the server stops.
  void Hang() {
    pollfd socket{fd_, POLLRDHUP, 0};
    while (poll(&socket, 1, -1) < 0 && errno == EINTR) {
    }
  }

  // Ends the connection with a TCP reset.
  void Reset() {
    const linger abort_on_close{1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof(abort_on_close));
    Close();
  }

 private:
  bool Fill() {
    char chunk[64 * 1024];
    const ssize_t got = recv(fd_, chunk, sizeof(chunk), 0);
    if (got <= 0) {
      return false;
    }
    buffer_.append(chunk, static_cast<size_t>(got));
    return true;
  }

  void Close() {
    if (fd_ >= 0) {
      server_.Forget(fd_);
      close(fd_);
      fd_ = -1;
    }
  }

  CaptureServer& server_;
  int fd_;
  std::string buffer_;
};

void CaptureServer::Start() {
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listen_fd_, 64) != 0 ||
      getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("capture server: cannot listen on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread(&CaptureServer::AcceptLoop, this);
}

CaptureServer::~CaptureServer() {
  if (listen_fd_ < 0) {
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    for (const int fd : open_fds_) {
      shutdown(fd, SHUT_RDWR);
    }
  }
  shutdown(listen_fd_, SHUT_RDWR);  // ends the acceptor's accept()
  if (acceptor_.joinable()) {       // not when Start failed
    acceptor_.join();
  }
  // With the acceptor gone, nothing adds workers any more.
  for (std::thread& worker : workers_) {
    worker.join();
  }
  close(listen_fd_);
}

std::string CaptureServer::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

void CaptureServer::Enqueue(Reply reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  replies_.push_back(std::move(reply));
}

void CaptureServer::SetDefaultReply(Reply reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  default_reply_ = std::move(reply);
}

std::vector<CapturedRequest> CaptureServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

int CaptureServer::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_;
}

void CaptureServer::AcceptLoop() {
  for (;;) {
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) {
      if (fd >= 0) {
        close(fd);
      }
      return;
    }
    if (fd >= 0) {
      ++connections_;
      open_fds_.insert(fd);
      workers_.emplace_back(&CaptureServer::Serve, this, fd);
    }
  }
}

void CaptureServer::Forget(int fd) {
  std::lock_guard<std::mutex> lock(mutex_);
  open_fds_.erase(fd);
}

Reply CaptureServer::NextReply() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (replies_.empty()) {
    return default_reply_;
  }
  Reply reply = std::move(replies_.front());
  replies_.pop_front();
  return reply;
}

void CaptureServer::Record(CapturedRequest request) {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.push_back(std::move(request));
}

void CaptureServer::Serve(int fd) {
  Connection connection(*this, fd);
  for (;;) {
    std::string head;
    if (!connection.ReadUntil("\r\n\r\n", head)) {
      return;
    }
    CapturedRequest request = ParseHead(head);
    const Reply reply = NextReply();
    if (reply.action == Reply::Action::kStallReadingBody) {
      connection.Hang();
      Record(std::move(request));
      return;
    }
    const std::optional<std::string> length = request.Header("Content-Length");
    if (length &&
        !connection.ReadExactly(std::strtoull(length->c_str(), nullptr, 10), request.body)) {
      return;
    }
    Record(std::move(request));
    if (!Answer(connection, reply) || reply.close_after) {
      return;
    }
    if (reply.close_on_next_request) {
      connection.WaitReadable();
      return;
    }
  }
}

bool CaptureServer::Answer(Connection& connection, const Reply& reply) {
  using Action = Reply::Action;
  const std::string body = BodyOnWire(reply);
  size_t cut = body.size();
  switch (reply.action) {
    case Action::kAnswer:
      break;
    case Action::kCloseWithoutAnswer:
      return false;
    case Action::kResetWithoutAnswer:
      connection.Reset();
      return false;
    case Action::kStallBeforeAnswer:
      connection.Hang();
      return false;
    default:  // the answers cut mid-body
      cut = std::min(reply.cut_after, body.size());
  }
  if (!connection.WriteAll(StatusAndHeaders(reply) + body.substr(0, cut))) {
    return false;
  }
  if (reply.action == Action::kResetMidBody) {
    connection.Reset();
  } else if (reply.action == Action::kStallMidBody) {
    connection.Hang();
  }
  return reply.action == Action::kAnswer;
}

}  // namespace orca_test
