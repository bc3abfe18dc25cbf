// One client connection relayed to its hidden service port across the
// emulated link.
#ifndef OCS_EMULATOR_LINK_RELAYEDCONNECTION_H_
#define OCS_EMULATOR_LINK_RELAYEDCONNECTION_H_

#include <poll.h>

#include "emulator/link/Link.h"
#include "emulator/link/LinkSockets.h"
#include "emulator/link/Pump.h"

namespace ocs {

// The client's socket, a socket to the service, and a pump each way. Ends
// pass on in order: a FIN after the last byte becomes a half close on the
// other side; a reset after the last byte becomes an RST on the other side
// and ends the connection. A failed write means the peer reset: the other
// side is reset once what it sent has gone through.
class RelayedConnection {
 public:
  // Starts connecting to 127.0.0.1:`service_port`; `accepted` is when the
  // client's connection was accepted.
  RelayedConnection(UniqueFd client, int service_port, Link& link, LinkTime accepted);

  // Fills the poll entries of the client socket and the service socket and
  // lowers *wake to the connection's next timer.
  void Prepare(LinkTime now, pollfd* entries, LinkTime* wake) const;
  // Acts on the outcome of the poll of `entries`, and on due timers.
  void Serve(const pollfd* entries, LinkTime now);
  // Both sockets are closed.
  bool done() const { return !client_ && !service_ && !aborting_; }

 private:
  // When client bytes read at `now` arrive.
  LinkTime InboundDue(LinkTime now) const;
  void FinishConnect(LinkTime now);
  void PassOnEnds(LinkTime now);
  void ClientFailed(LinkTime now);
  void ServiceFailed(LinkTime now);
  // Ends the connection: `dead` closes, `doomed` gets an RST once the
  // bytes written to it have been acknowledged.
  void ResetSide(UniqueFd* doomed, UniqueFd* dead, LinkTime now);
  void ContinueAbort(LinkTime now);

  Link& link_;
  UniqueFd client_;
  UniqueFd service_;
  bool connecting_ = true;
  // The end of the emulated TCP handshake: one round trip after the accept.
  const LinkTime handshake_done_;
  Pump inbound_;   // client to service
  Pump outbound_;  // service to client
  UniqueFd aborting_;
  LinkTime abort_deadline_;
};

}  // namespace ocs

#endif  // OCS_EMULATOR_LINK_RELAYEDCONNECTION_H_
