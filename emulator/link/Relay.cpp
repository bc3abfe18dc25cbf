#include "emulator/link/Relay.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace ocs {
namespace {

constexpr size_t kFixedEntries = 2;  // the stop signal, the listener
constexpr size_t kEntriesPerConnection = 2;
constexpr std::chrono::milliseconds kAcceptPause{50};

// The time from `now` to `wake` for ppoll; nullptr (no limit) for max().
const timespec* TimeoutUntil(LinkTime wake, LinkTime now, timespec* storage) {
  if (wake == LinkTime::max()) {
    return nullptr;
  }
  const auto wait = std::max(wake - now, LinkClock::duration::zero());
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
  storage->tv_sec = static_cast<time_t>(seconds.count());
  storage->tv_nsec = static_cast<long>(std::chrono::nanoseconds(wait - seconds).count());
  return storage;
}

}  // namespace

Relay::~Relay() { Stop(); }

std::string Relay::Bind(const std::string& host, int port) {
  std::string why;
  listener_ = ListenOn(host, port, &port_, &why);
  stop_ = MakeStopSignal();
  return listener_ && stop_ ? "" : why.empty() ? "no event descriptor" : why;
}

void Relay::Start() { thread_ = std::thread(&Relay::Run, this); }

void Relay::Stop() {
  if (!thread_.joinable()) {
    return;
  }
  RaiseStopSignal(stop_.get());
  thread_.join();
}

void Relay::Run() {
  std::vector<pollfd> entries;
  while (Wait(&entries)) {
    const LinkTime now = LinkClock::now();
    ServeConnections(entries, now);
    if ((entries[1].revents & POLLIN) != 0) {
      AcceptAll(now);
    }
  }
  connections_.clear();
}

bool Relay::Wait(std::vector<pollfd>* entries) {
  const LinkTime now = LinkClock::now();
  entries->assign(kFixedEntries + kEntriesPerConnection * connections_.size(), pollfd{});
  (*entries)[0] = {stop_.get(), POLLIN, 0};
  (*entries)[1] = {now < accept_paused_to_ ? -1 : listener_.get(), POLLIN, 0};
  LinkTime wake = now < accept_paused_to_ ? accept_paused_to_ : LinkTime::max();
  for (size_t i = 0; i < connections_.size(); ++i) {
    connections_[i]->Prepare(now, &(*entries)[kFixedEntries + kEntriesPerConnection * i], &wake);
  }
  timespec storage{};
  const int ready =
      ::ppoll(entries->data(), entries->size(), TimeoutUntil(wake, now, &storage), nullptr);
  return ready >= 0 ? (*entries)[0].revents == 0 : errno == EINTR;
}

void Relay::ServeConnections(const std::vector<pollfd>& entries, LinkTime now) {
  const size_t count = connections_.size();
  for (size_t k = 0; k < count; ++k) {
    const size_t i = (first_served_ + k) % count;
    connections_[i]->Serve(&entries[kFixedEntries + kEntriesPerConnection * i], now);
  }
  first_served_ = count == 0 ? 0 : (first_served_ + 1) % count;
  connections_.erase(std::remove_if(connections_.begin(), connections_.end(),
                                    [](const auto& connection) { return connection->done(); }),
                     connections_.end());
}

void Relay::AcceptAll(LinkTime now) {
  for (;;) {
    UniqueFd client = AcceptFrom(listener_.get());
    if (!client) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED) {
        accept_paused_to_ = now + kAcceptPause;
      }
      return;
    }
    connections_.push_back(
        std::make_unique<RelayedConnection>(std::move(client), service_port_, link_, now));
  }
}

}  // namespace ocs
