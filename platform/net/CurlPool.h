// Process-wide libcurl state: one-time global initialisation, a share of
// DNS entries and TLS sessions, and a pool of idle easy handles.
//
// Each handle keeps its own live connections between transfers, and
// the pool hands out the most recently returned handle first, so that a run
// of requests, from one thread or several in turn, reuses one connection.
// A handle is lent to one exchange at a time and never used by two threads
// at once.
#ifndef ORCA_PLATFORM_NET_CURLPOOL_H_
#define ORCA_PLATFORM_NET_CURLPOOL_H_

#include <curl/curl.h>

namespace Orca {
namespace Net {

// An easy handle and the multi handle it runs in, whose cache keeps the
// handle's connections between transfers.
struct PooledHandle {
  CURL* easy = nullptr;
  CURLM* multi = nullptr;
};

// Lends a handle with default options (attached to the share) for the
// lease's lifetime, then gives it back to the pool.
class EasyHandleLease {
 public:
  EasyHandleLease();
  ~EasyHandleLease();
  EasyHandleLease(const EasyHandleLease&) = delete;
  EasyHandleLease& operator=(const EasyHandleLease&) = delete;

  // Both null when libcurl could not make them.
  CURL* get() const { return handle_.easy; }
  CURLM* multi() const { return handle_.multi; }

 private:
  PooledHandle handle_;
};

}  // namespace Net
}  // namespace Orca

#endif  // ORCA_PLATFORM_NET_CURLPOOL_H_
