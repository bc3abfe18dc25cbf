// An HTTPS server (cpp-httplib) for TLS tests of the HTTP client.
#ifndef ORCA_TESTS_NET_TLSSERVER_H_
#define ORCA_TESTS_NET_TLSSERVER_H_

#include <gtest/gtest.h>
#include <httplib.h>
#include <stdlib.h>

#include <stdexcept>
#include <string>
#include <thread>

#include "TestCerts.h"

namespace orca_test {

// An HTTPS server on `address` answering "secure" to every GET.
class TlsServer {
 public:
  TlsServer(const TestPki& pki, const std::string& address)
      : server_(pki.server_cert.c_str(), pki.server_key.c_str()) {
    server_.Get(".*", [](const httplib::Request&, httplib::Response& response) {
      response.set_content("secure", "text/plain");
    });
    server_.set_keep_alive_timeout(1);  // lets stop() return soon after the last request
    port_ = server_.bind_to_any_port(address);
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~TlsServer() {
    server_.stop();
    thread_.join();
  }
  TlsServer(const TlsServer&) = delete;
  TlsServer& operator=(const TlsServer&) = delete;

  int port() const { return port_; }

 private:
  httplib::SSLServer server_;
  int port_ = -1;
  std::thread thread_;
};

// A new empty folder under the test's temporary directory.
inline std::string NewTempDir() {
  std::string dir = ::testing::TempDir() + "orca-net-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) {
    throw std::runtime_error("cannot make a temporary folder");
  }
  return dir;
}

}  // namespace orca_test

#endif  // ORCA_TESTS_NET_TLSSERVER_H_
