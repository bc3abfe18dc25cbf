// One listening port of the emulator: an HTTP or HTTPS server with worker
// threads started on demand, generous keep-alive limits and a count of the
// connections it accepted.
#ifndef OCS_EMULATOR_HTTP_LISTENER_H_
#define OCS_EMULATOR_HTTP_LISTENER_H_

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ocs {

enum class Role { kUpload, kDownload, kNode, kGateway, kGatewayDownload, kAdmin };

// "upload", "download", "node", "gateway", "gateway-download", "admin".
const char* RoleName(Role role);
// The same with "_" for "-", as JSON documents name the ports.
std::string RoleKey(Role role);

// A task queue for the HTTP server that starts a worker thread whenever all
// are busy (up to a limit), so that idle keep-alive connections, which each
// hold a worker, do not starve new ones. Each task is one accepted
// connection, counted in `accepted`.
class ElasticTaskQueue : public httplib::TaskQueue {
 public:
  ElasticTaskQueue(size_t max_threads, std::atomic<uint64_t>* accepted);
  ~ElasticTaskQueue() override;

  void enqueue(std::function<void()> fn) override;
  void shutdown() override;

 private:
  void Work();
  void StopWorkers();

  const size_t max_threads_;
  std::atomic<uint64_t>* accepted_;
  std::mutex mu_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;  // guarded by mu_
  std::vector<std::thread> threads_;        // guarded by mu_
  size_t idle_ = 0;                         // guarded by mu_
  bool stopping_ = false;                   // guarded by mu_
};

struct TlsFiles {
  std::string cert;
  std::string key;
};

struct ListenerSettings {
  size_t max_threads = 256;
  int keep_alive_seconds = 30;
  uint64_t max_body = uint64_t{1} << 30;
};

class Listener {
 public:
  // HTTPS when `tls` is given.
  Listener(Role role, const ListenerSettings& settings, const TlsFiles* tls);
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  // False when the TLS files could not be loaded.
  bool valid() const { return server_->is_valid(); }
  httplib::Server& server() { return *server_; }
  Role role() const { return role_; }

  // Binds `host`:`port` (0: a free port); false on failure.
  bool Bind(const std::string& host, int port);
  // The port clients reach: the bound port, or that of a relay in front of it.
  int port() const { return public_port_ != 0 ? public_port_ : port_; }
  void SetPublicPort(int port) { public_port_ = port; }
  int bound_port() const { return port_; }
  // Serves on a thread of its own.
  void Start();
  // Stops accepting, closes open connections and waits for the workers.
  void Stop();
  uint64_t accepted() const { return accepted_.load(); }

 private:
  const Role role_;
  std::unique_ptr<httplib::Server> server_;
  std::function<void()> widen_backlog_;
  std::atomic<uint64_t> accepted_{0};
  std::thread thread_;
  int port_ = 0;
  int public_port_ = 0;  // 0: the bound port
};

}  // namespace ocs

#endif  // OCS_EMULATOR_HTTP_LISTENER_H_
