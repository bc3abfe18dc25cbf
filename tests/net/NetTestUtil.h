// Helpers shared by the HTTP client tests.
#ifndef ORCA_TESTS_NET_NETTESTUTIL_H_
#define ORCA_TESTS_NET_NETTESTUTIL_H_

#include <cstddef>
#include <cstdlib>
#include <string>

#include "net/HttpClient.h"

namespace orca_test {

inline Orca::Net::CHttpClientRequest MakeRequest(const std::string& method,
                                                 const std::string& url) {
  Orca::Net::CHttpClientRequest request;
  request.SetURL(Orca::Net::URL(url));
  request.SetMethod(method);
  return request;
}

// `size` bytes cycling through all 256 values (NUL, CR and LF included).
inline std::string PatternBytes(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xff);
  }
  return bytes;
}

// Sets (or, with nullptr, removes) an environment variable for a scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      old_ = old;
      had_old_ = true;
    }
    Apply(value);
  }
  ~ScopedEnv() { Apply(had_old_ ? old_.c_str() : nullptr); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Apply(const char* value) {
    if (value != nullptr) {
      setenv(name_.c_str(), value, 1);
    } else {
      unsetenv(name_.c_str());
    }
  }

  std::string name_;
  std::string old_;
  bool had_old_ = false;
};

}  // namespace orca_test

#endif  // ORCA_TESTS_NET_NETTESTUTIL_H_
