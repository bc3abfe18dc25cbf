// A loopback port that refuses connections (bound, not listening) until
// Open(); from then on it accepts them and relays each one, byte for byte
// both ways, to a port of the emulator. A service that comes back after
// refusing a client's first tries.
#ifndef ORCA_TEST_FAULTS_REFUSINGPORT_H_
#define ORCA_TEST_FAULTS_REFUSINGPORT_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace orca_test {

class RefusingPort {
 public:
  // Throws std::runtime_error when no port can be bound.
  explicit RefusingPort(uint32_t target_port);
  // Stops relaying and closes every connection.
  ~RefusingPort();
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;

  uint32_t port() const { return port_; }
  // Listens from now on. Thread-safe; idempotent.
  void Open();

 private:
  void Accept();
  void Relay(int client);

  const uint32_t target_port_;
  int socket_ = -1;
  uint32_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
  std::vector<std::thread> relays_;  // under mutex_
  std::thread acceptor_;
};

}  // namespace orca_test

#endif  // ORCA_TEST_FAULTS_REFUSINGPORT_H_
