#include "emulator/http/Listener.h"

#include <sys/socket.h>

#include <algorithm>

#include "emulator/http/Sockets.h"

namespace ocs {
namespace {

constexpr time_t kReadWriteTimeoutSeconds = 60;

// Gives access to the listening socket, to widen the library's small accept
// backlog.
template <class Base>
class TunedServer : public Base {
 public:
  using Base::Base;
  void WidenBacklog() { ::listen(this->svr_sock_, kListenBacklog); }
};

template <class Base, class... Args>
std::unique_ptr<httplib::Server> MakeServer(std::function<void()>* widen_backlog, Args... args) {
  auto server = std::make_unique<TunedServer<Base>>(args...);
  *widen_backlog = [raw = server.get()] { raw->WidenBacklog(); };
  return server;
}

}  // namespace

const char* RoleName(Role role) {
  switch (role) {
    case Role::kUpload:
      return "upload";
    case Role::kDownload:
      return "download";
    case Role::kNode:
      return "node";
    case Role::kGateway:
      return "gateway";
    case Role::kGatewayDownload:
      return "gateway-download";
    case Role::kAdmin:
      return "admin";
  }
  return "?";
}

std::string RoleKey(Role role) {
  std::string key = RoleName(role);
  std::replace(key.begin(), key.end(), '-', '_');
  return key;
}

ElasticTaskQueue::ElasticTaskQueue(size_t max_threads, std::atomic<uint64_t>* accepted)
    : max_threads_(max_threads == 0 ? 1 : max_threads), accepted_(accepted) {}

ElasticTaskQueue::~ElasticTaskQueue() { StopWorkers(); }

void ElasticTaskQueue::enqueue(std::function<void()> fn) {
  const std::lock_guard<std::mutex> lock(mu_);
  accepted_->fetch_add(1);
  jobs_.push_back(std::move(fn));
  if (jobs_.size() > idle_ && threads_.size() < max_threads_) {
    threads_.emplace_back(&ElasticTaskQueue::Work, this);
  }
  wake_.notify_one();
}

void ElasticTaskQueue::shutdown() { StopWorkers(); }

void ElasticTaskQueue::StopWorkers() {
  std::vector<std::thread> threads;
  {
    const std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
    threads.swap(threads_);
  }
  wake_.notify_all();
  for (auto& thread : threads) {
    thread.join();
  }
}

void ElasticTaskQueue::Work() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    ++idle_;
    wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
    --idle_;
    if (jobs_.empty()) {
      return;  // stopping, and nothing left to do
    }
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    job();
    lock.lock();
  }
}

Listener::Listener(Role role, const ListenerSettings& settings, const TlsFiles* tls) : role_(role) {
  server_ = tls != nullptr ? MakeServer<httplib::SSLServer>(&widen_backlog_, tls->cert.c_str(),
                                                            tls->key.c_str())
                           : MakeServer<httplib::Server>(&widen_backlog_);
  const size_t max_threads = settings.max_threads;
  server_->new_task_queue = [this, max_threads] {
    return new ElasticTaskQueue(max_threads, &accepted_);
  };
  server_->set_keep_alive_max_count(1000);
  server_->set_keep_alive_timeout(settings.keep_alive_seconds);
  server_->set_read_timeout(kReadWriteTimeoutSeconds);
  server_->set_write_timeout(kReadWriteTimeoutSeconds);
  server_->set_payload_max_length(settings.max_body);
  server_->set_tcp_nodelay(true);
}

Listener::~Listener() { Stop(); }

bool Listener::Bind(const std::string& host, int port) {
  if (port == 0) {
    port_ = server_->bind_to_any_port(host);
  } else {
    port_ = server_->bind_to_port(host, port) ? port : -1;
  }
  if (port_ <= 0) {
    return false;
  }
  widen_backlog_();
  return true;
}

void Listener::Start() {
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // stop() only takes effect once the server runs.
  for (int waited_ms = 0; waited_ms < 10000 && !server_->is_running(); ++waited_ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void Listener::Stop() {
  if (!thread_.joinable()) {
    return;
  }
  server_->stop();
  // Workers idle in keep-alive waits notice the stop only when their
  // connection wakes up: close them all until the serving thread is done.
  std::atomic<bool> done{false};
  std::thread closer([this, &done] {
    while (!done.load()) {
      ShutdownConnections(port_);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  thread_.join();
  done.store(true);
  closer.join();
}

}  // namespace ocs
