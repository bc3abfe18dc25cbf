// Direct control over sockets, which the HTTP server library does not
// expose: finding a connection's socket, resetting it, and waking idle
// keep-alive connections at shutdown; and the small socket settings the link
// relay shares.
#ifndef OCS_EMULATOR_HTTP_SOCKETS_H_
#define OCS_EMULATOR_HTTP_SOCKETS_H_

#include <string>

namespace ocs {

// Pending connections a listening socket queues.
constexpr int kListenBacklog = 1024;

// The local port `fd` is bound to, or -1.
int BoundPort(int fd);

// Makes closing `fd` reset the connection (SO_LINGER zero): the peer sees
// an RST instead of a FIN.
void SetAbortOnClose(int fd);

// The descriptor of the accepted connection from `remote_port` to
// `local_port`, or -1.
int FindConnectionSocket(int local_port, int remote_port);

// Resets the connection (the peer sees an RST): sets SO_LINGER to zero and
// replaces the descriptor by a fresh unconnected socket, which closes the
// connection while the server's later reads and writes on the descriptor
// simply fail.
void ResetConnection(int fd);

// Shuts down (both ways) every accepted connection on `local_port`.
void ShutdownConnections(int local_port);

}  // namespace ocs

#endif  // OCS_EMULATOR_HTTP_SOCKETS_H_
