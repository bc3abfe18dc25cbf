#include "emulator/link/RelayedConnection.h"

#include <sys/socket.h>

#include <algorithm>

namespace ocs {
namespace {

// How long an RST waits for the bytes before it to be acknowledged, and how
// often that is checked.
constexpr std::chrono::seconds kAbortDrainLimit{1};
constexpr std::chrono::milliseconds kAbortCheck{1};

bool Readable(const pollfd& entry) { return (entry.revents & (POLLIN | POLLHUP | POLLERR)) != 0; }

// Polls `fd` for `events`; an entry without events is skipped by poll, so
// that a hang-up nobody waits for does not wake the loop again and again.
void Watch(pollfd* entry, const UniqueFd& fd, int events) {
  entry->fd = fd && events != 0 ? fd.get() : -1;
  entry->events = static_cast<short>(events);
  entry->revents = 0;
}

}  // namespace

RelayedConnection::RelayedConnection(UniqueFd client, int service_port, Link& link,
                                     LinkTime accepted)
    : link_(link),
      client_(std::move(client)),
      service_(ConnectToLoopback(service_port)),
      handshake_done_(accepted + 2 * link.latency()),
      inbound_(link.toward_service()),
      outbound_(link.toward_client()) {
  if (!service_) {
    ResetSide(&client_, &service_, accepted);
  }
}

LinkTime RelayedConnection::InboundDue(LinkTime now) const {
  return std::max(now, handshake_done_) + link_.latency();
}

void RelayedConnection::Prepare(LinkTime now, pollfd* entries, LinkTime* wake) const {
  const int client_events =
      (inbound_.WantsRead() ? POLLIN : 0) | (outbound_.WantsWrite(now) ? POLLOUT : 0);
  const int service_events =
      connecting_ ? POLLOUT
                  : (outbound_.WantsRead() ? POLLIN : 0) | (inbound_.WantsWrite(now) ? POLLOUT : 0);
  Watch(&entries[0], client_, client_events);
  Watch(&entries[1], service_, service_events);
  // While connecting nothing can go to the service: its POLLOUT ends the wait.
  const LinkTime inbound_timer = connecting_ ? LinkTime::max() : inbound_.NextTimer(now);
  const LinkTime abort_check = aborting_ ? now + kAbortCheck : LinkTime::max();
  *wake = std::min({*wake, inbound_timer, outbound_.NextTimer(now), abort_check});
}

void RelayedConnection::Serve(const pollfd* entries, LinkTime now) {
  if (connecting_ && entries[1].revents != 0) {
    FinishConnect(now);
  }
  if (Readable(entries[0]) && inbound_.WantsRead()) {
    inbound_.ReadFrom(client_.get(), InboundDue(now));
  }
  if (Readable(entries[1]) && !connecting_ && outbound_.WantsRead()) {
    outbound_.ReadFrom(service_.get(), now + link_.latency());
  }
  if (service_ && !connecting_ && !inbound_.WriteTo(service_.get(), now)) {
    ServiceFailed(now);
  }
  if (client_ && !outbound_.WriteTo(client_.get(), now)) {
    ClientFailed(now);
  }
  PassOnEnds(now);
  ContinueAbort(now);
}

void RelayedConnection::FinishConnect(LinkTime now) {
  connecting_ = false;
  if (ConnectError(service_.get()) != 0) {
    ResetSide(&client_, &service_, now);
  }
}

void RelayedConnection::PassOnEnds(LinkTime now) {
  if (connecting_) {
    return;
  }
  const StreamEnd from_client = inbound_.TakeEnd(now);
  if (from_client == StreamEnd::kFin) {
    ::shutdown(service_.get(), SHUT_WR);
  } else if (from_client == StreamEnd::kReset) {
    ResetSide(&service_, &client_, now);
  }
  const StreamEnd from_service = outbound_.TakeEnd(now);
  if (from_service == StreamEnd::kFin) {
    ::shutdown(client_.get(), SHUT_WR);
  } else if (from_service == StreamEnd::kReset) {
    ResetSide(&client_, &service_, now);
  }
  if (inbound_.ended() && outbound_.ended()) {
    client_.reset();
    service_.reset();
  }
}

void RelayedConnection::ClientFailed(LinkTime now) {
  outbound_.Abandon();
  if (inbound_.ended()) {
    ResetSide(&service_, &client_, now);
  } else {
    inbound_.MarkSourceReset();  // its end, after what the client sent, resets the service side
  }
}

void RelayedConnection::ServiceFailed(LinkTime now) {
  inbound_.Abandon();
  if (outbound_.ended()) {
    ResetSide(&client_, &service_, now);
  } else {
    outbound_.MarkSourceReset();
  }
}

void RelayedConnection::ResetSide(UniqueFd* doomed, UniqueFd* dead, LinkTime now) {
  inbound_.Abandon();
  outbound_.Abandon();
  dead->reset();
  aborting_ = std::move(*doomed);
  abort_deadline_ = now + kAbortDrainLimit;
}

void RelayedConnection::ContinueAbort(LinkTime now) {
  if (aborting_ && (UnsentBytes(aborting_.get()) == 0 || now >= abort_deadline_)) {
    CloseWithReset(std::move(aborting_));
  }
}

}  // namespace ocs
