// The socket operations of the link relay: an owned descriptor, a listening
// socket, a non-blocking connection to the hidden service port, and the
// abortive close that sends an RST.
#ifndef OCS_EMULATOR_LINK_LINKSOCKETS_H_
#define OCS_EMULATOR_LINK_LINKSOCKETS_H_

#include <cstddef>
#include <string>

namespace ocs {

// Owns a file descriptor and closes it when destroyed or reset.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release();
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// A non-blocking listening socket on `host`:`port` (0: any free port), its
// port in *bound_port; an invalid descriptor and the problem in *why on failure.
UniqueFd ListenOn(const std::string& host, int port, int* bound_port, std::string* why);

// Accepts one connection, non-blocking and without Nagle's delay; invalid
// when none is waiting or accepting failed.
UniqueFd AcceptFrom(int listener);

// Starts connecting to 127.0.0.1:`port` without blocking; invalid on failure.
UniqueFd ConnectToLoopback(int port);

// The outcome of a connection attempt that has become writable: 0 or an errno.
int ConnectError(int fd);

// Bytes written to `fd` that its peer has not acknowledged yet.
size_t UnsentBytes(int fd);

// Closes `fd` so that the peer sees an RST (zero linger).
void CloseWithReset(UniqueFd fd);

// An eventfd that, once signalled, stays readable: wakes every poll on it.
UniqueFd MakeStopSignal();
void RaiseStopSignal(int fd);

}  // namespace ocs

#endif  // OCS_EMULATOR_LINK_LINKSOCKETS_H_
