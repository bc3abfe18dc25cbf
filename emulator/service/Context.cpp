#include "emulator/service/Context.h"

namespace ocs {

void StopFlag::Stop() {
  {
    const std::lock_guard<std::mutex> lock(mu_);
    stopped_ = true;
  }
  wake_.notify_all();
}

bool StopFlag::SleepFor(std::chrono::milliseconds duration) {
  std::unique_lock<std::mutex> lock(mu_);
  return !wake_.wait_for(lock, duration, [this] { return stopped_; });
}

void RedirectPolicy::Set(const RedirectConfig& config) {
  const std::lock_guard<std::mutex> lock(mu_);
  config_ = config;
  count_ = 0;
}

RedirectConfig RedirectPolicy::Get() const {
  const std::lock_guard<std::mutex> lock(mu_);
  return config_;
}

int RedirectPolicy::Next() {
  const std::lock_guard<std::mutex> lock(mu_);
  switch (config_.mode) {
    case RedirectMode::kAlways:
      return config_.status;
    case RedirectMode::kEveryNth:
      return ++count_ % config_.every == 0 ? config_.status : 0;
    case RedirectMode::kOff:
      break;
  }
  return 0;
}

void PictureTokens::Issue(const std::string& serial, const std::string& pool,
                          const std::string& token) {
  const std::lock_guard<std::mutex> lock(mu_);
  if (issued_.count(serial) == 0) {
    order_.push_back(serial);
  }
  issued_[serial] = {pool, token};
  while (order_.size() > kCapacity) {
    issued_.erase(order_.front());
    order_.pop_front();
  }
}

bool PictureTokens::Redeem(const std::string& serial, const std::string& pool,
                           const std::string& token) {
  const std::lock_guard<std::mutex> lock(mu_);
  const auto it = issued_.find(serial);
  if (it == issued_.end() || it->second.first != pool || it->second.second != token) {
    return false;
  }
  issued_.erase(it);  // its entry in order_ goes when it comes up
  return true;
}

std::string Context::NextNodeLocation() {
  const int port = node_ports[next_node_.fetch_add(1) % node_ports.size()];
  return options.advertise_address + ":" + std::to_string(port);
}

std::string Context::UrlOn(int port, const std::string& target) const {
  return scheme + "://" + options.advertise_address + ":" + std::to_string(port) + target;
}

}  // namespace ocs
