// State shared by the request handlers of every port.
#ifndef OCS_EMULATOR_SERVICE_CONTEXT_H_
#define OCS_EMULATOR_SERVICE_CONTEXT_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "emulator/Options.h"
#include "emulator/service/Auth.h"
#include "emulator/store/Store.h"

namespace ocs {

// Lets sleeping handlers (delays, stalls) end early when the emulator stops.
class StopFlag {
 public:
  void Stop();
  // Sleeps for `duration` or until Stop; false when stopped.
  bool SleepFor(std::chrono::milliseconds duration);

 private:
  std::mutex mu_;
  std::condition_variable wake_;
  bool stopped_ = false;  // guarded by mu_
};

// Decides which downloads are answered with a redirect to a data node.
class RedirectPolicy {
 public:
  explicit RedirectPolicy(const RedirectConfig& config) : config_(config) {}
  void Set(const RedirectConfig& config);
  RedirectConfig Get() const;
  // The status to redirect this download with, or 0 to serve it.
  int Next();

 private:
  mutable std::mutex mu_;
  RedirectConfig config_;  // guarded by mu_
  uint64_t count_ = 0;     // guarded by mu_
};

// Tokens of the picture gateway's best-node answers, each good for one
// upload with the same serial id and pool.
class PictureTokens {
 public:
  void Issue(const std::string& serial, const std::string& pool, const std::string& token);
  // True (and the token is used up) when `serial` was answered `token` for `pool`.
  bool Redeem(const std::string& serial, const std::string& pool, const std::string& token);

 private:
  static constexpr size_t kCapacity = 100000;  // the oldest go first
  std::mutex mu_;
  std::map<std::string, std::pair<std::string, std::string>> issued_;  // serial -> pool, token
  std::deque<std::string> order_;
};

struct Context {
  Context(const Options& options_in, Store& store_in, Authenticator& auth_in)
      : options(options_in),
        store(store_in),
        auth(auth_in),
        redirects(options_in.redirect),
        scheme(options_in.tls_cert.empty() ? "http" : "https") {}

  // "host:port" of the next data node, round robin.
  std::string NextNodeLocation();
  // scheme://host:<port><target>
  std::string UrlOn(int port, const std::string& target) const;

  const Options& options;
  Store& store;
  Authenticator& auth;
  RedirectPolicy redirects;
  PictureTokens tokens;
  StopFlag stop;
  const std::string scheme;
  // Set once the ports are bound, before serving starts.
  std::vector<int> node_ports;
  int gateway_port = 0;

 private:
  std::atomic<uint64_t> next_node_{0};
};

}  // namespace ocs

#endif  // OCS_EMULATOR_SERVICE_CONTEXT_H_
