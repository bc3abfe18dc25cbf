// Helpers shared by the HTTP client tests.
#ifndef ORCA_TESTS_NET_NETTESTUTIL_H_
#define ORCA_TESTS_NET_NETTESTUTIL_H_

#include <stdlib.h>

#include <cstddef>
#include <optional>
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

// What one HttpClient::Send gave.
struct Outcome {
  bool ok = false;
  Orca::Net::CHttpClientResponse response;
  Orca::Net::HttpClient::Error error;
};

inline Outcome Send(Orca::Net::CHttpClientRequest& request) {
  Outcome outcome;
  outcome.ok = Orca::Net::HttpClient::Send(request, outcome.response, outcome.error);
  return outcome;
}

inline Outcome Get(const std::string& url) {
  auto request = MakeRequest("GET", url);
  return Send(request);
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
    if (const char* old = getenv(name)) old_ = old;
    Set(value);
  }
  ~ScopedEnv() { Set(old_ ? old_->c_str() : nullptr); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Set(const char* value) {
    value != nullptr ? setenv(name_.c_str(), value, 1) : unsetenv(name_.c_str());
  }

  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace orca_test

#endif  // ORCA_TESTS_NET_NETTESTUTIL_H_
