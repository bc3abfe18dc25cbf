#include "net/CurlPool.h"

#include <array>
#include <mutex>
#include <vector>

namespace Orca {
namespace Net {
namespace {

// Idle handles kept beyond this number are closed with their connections.
constexpr size_t kMaxIdleHandles = 16;
// Live connections one handle keeps (to as many servers).
constexpr long kMaxConnectionsPerHandle = 4;

void Close(const PooledHandle& handle) {
  if (handle.easy != nullptr) {
    curl_easy_cleanup(handle.easy);
  }
  if (handle.multi != nullptr) {
    curl_multi_cleanup(handle.multi);
  }
}

class CurlGlobals {
 public:
  // Never destroyed: exchanges may still run on other threads at exit.
  static CurlGlobals& Get() {
    static CurlGlobals* const globals = new CurlGlobals();
    return *globals;
  }

  PooledHandle Take() {
    {
      std::lock_guard<std::mutex> lock(idle_mutex_);
      if (!idle_.empty()) {
        const PooledHandle handle = idle_.back();
        idle_.pop_back();
        return handle;
      }
    }
    PooledHandle handle{curl_easy_init(), curl_multi_init()};
    if (handle.easy == nullptr || handle.multi == nullptr) {
      Close(handle);
      return PooledHandle{};
    }
    if (share_ != nullptr) {
      curl_easy_setopt(handle.easy, CURLOPT_SHARE, share_);  // kept across curl_easy_reset
    }
    curl_multi_setopt(handle.multi, CURLMOPT_MAXCONNECTS, kMaxConnectionsPerHandle);
    return handle;
  }

  void Give(const PooledHandle& handle) {
    // libcurl keeps the OS error number of a failure until the next one, so
    // only a handle without one goes back: the next exchange then reads a
    // number of its own.
    long os_errno = 0;
    curl_easy_getinfo(handle.easy, CURLINFO_OS_ERRNO, &os_errno);
    if (os_errno == 0) {
      curl_easy_reset(handle.easy);  // drops the finished exchange's options and callbacks
      std::lock_guard<std::mutex> lock(idle_mutex_);
      if (idle_.size() < kMaxIdleHandles) {
        idle_.push_back(handle);
        return;
      }
    }
    Close(handle);
  }

 private:
  CurlGlobals() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    share_ = curl_share_init();
    if (share_ != nullptr) {
      curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &CurlGlobals::LockShare);
      curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &CurlGlobals::UnlockShare);
      curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
      curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
      curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    }
  }

  static void LockShare(CURL* /*handle*/, curl_lock_data data, curl_lock_access /*access*/,
                        void* self) {
    static_cast<CurlGlobals*>(self)->share_locks_.at(data).lock();
  }
  static void UnlockShare(CURL* /*handle*/, curl_lock_data data, void* self) {
    static_cast<CurlGlobals*>(self)->share_locks_.at(data).unlock();
  }

  CURLSH* share_ = nullptr;
  std::array<std::mutex, CURL_LOCK_DATA_LAST> share_locks_;
  std::mutex idle_mutex_;
  std::vector<PooledHandle> idle_;
};

}  // namespace

EasyHandleLease::EasyHandleLease() : handle_(CurlGlobals::Get().Take()) {}

EasyHandleLease::~EasyHandleLease() {
  if (handle_.easy != nullptr) {
    CurlGlobals::Get().Give(handle_);
  }
}

}  // namespace Net
}  // namespace Orca
