// The public side of one service port under link emulation: a TCP relay
// that accepts the clients' connections and carries each one across the
// emulated link to the HTTP server, which listens on a hidden loopback port.
#ifndef OCS_EMULATOR_LINK_RELAY_H_
#define OCS_EMULATOR_LINK_RELAY_H_

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "emulator/link/Link.h"
#include "emulator/link/LinkSockets.h"
#include "emulator/link/RelayedConnection.h"

namespace ocs {

// One thread polls the listening socket and every relayed connection,
// sleeping until a socket is ready or a byte falls due. Each accepted
// connection opens exactly one connection to the service port.
class Relay {
 public:
  Relay(Link& link, int service_port) : link_(link), service_port_(service_port) {}
  ~Relay();
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;

  // Listens on `host`:`port` (0: any free port); returns "" or the problem.
  std::string Bind(const std::string& host, int port);
  int port() const { return port_; }
  void Start();
  // Stops accepting and closes every relayed connection.
  void Stop();

 private:
  void Run();
  // Polls the stop signal, the listener and every connection until one is
  // ready or the earliest timer; false once stopped.
  bool Wait(std::vector<pollfd>* entries);
  void ServeConnections(const std::vector<pollfd>& entries, LinkTime now);
  void AcceptAll(LinkTime now);

  Link& link_;
  const int service_port_;
  UniqueFd listener_;
  UniqueFd stop_;
  int port_ = 0;
  std::vector<std::unique_ptr<RelayedConnection>> connections_;  // the relay thread's own
  size_t first_served_ = 0;    // rotates, so that connections take turns at the pacer
  LinkTime accept_paused_to_;  // after accepting failed (out of descriptors, say)
  std::thread thread_;
};

}  // namespace ocs

#endif  // OCS_EMULATOR_LINK_RELAY_H_
