// A raw-socket HTTP/1.1 server for wire tests. It records every request
// exactly as received and answers each with a scripted Reply, including
// misbehaviours (stalls, short bodies, dropped and reset connections).
//
//   orca_test::CaptureServer server;
//   server.Start();
//   server.Enqueue({404, {{"Content-Type", "text/plain"}}, "missing"});
//   ... send requests to server.BaseUrl() ...
//   EXPECT_EQ(server.Requests()[0].method, "PUT");
//
// Requests are answered in arrival order, whatever the connection: queued
// replies first, then the default reply. Each connection runs on its own
// thread; the destructor ends them all, stalls included.
#ifndef ORCA_TEST_SUPPORT_CAPTURE_CAPTURESERVER_H_
#define ORCA_TEST_SUPPORT_CAPTURE_CAPTURESERVER_H_

#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace orca_test {

using HeaderLines = std::vector<std::pair<std::string, std::string>>;

struct Reply {
  enum class Framing {
    kContentLength,  // adds "Content-Length: <body size>"
    kChunked,        // adds "Transfer-Encoding: chunked", body in chunks of chunk_size
    kAsGiven,        // adds nothing: the header lines say it all
  };
  enum class Action {
    kAnswer,              // the whole answer
    kStallBeforeAnswer,   // read the request, then send nothing
    kStallMidBody,        // send cut_after body bytes, then nothing more
    kCloseMidBody,        // send cut_after body bytes, then close
    kResetMidBody,        // send cut_after body bytes, then reset the connection
    kCloseWithoutAnswer,  // close without a byte
    kResetWithoutAnswer,  // reset without a byte
    kStallReadingBody,    // stop reading the request body
  };
  // A stall lasts until the client closes or the server stops.

  int status = 200;
  HeaderLines headers;  // sent in order, before the framing field
  std::string body;
  Framing framing = Framing::kContentLength;
  Action action = Action::kAnswer;
  size_t cut_after = 0;  // body bytes as sent (chunk framing included)
  size_t chunk_size = 1024;
  // Close the connection (without saying so) after answering.
  bool close_after = false;
  // After answering, wait for the first bytes of the next request on the
  // connection, then close it without reading them: the client is caught
  // sending on a connection it had every reason to reuse.
  bool close_on_next_request = false;
};

struct CapturedRequest {
  std::string method;
  std::string target;   // as on the request line
  std::string version;  // "HTTP/1.1"
  HeaderLines headers;  // names and values as received, in order
  std::string body;     // Content-Length bytes (the client never chunks)

  // The first field named `name` (case-insensitive), if any.
  std::optional<std::string> Header(const std::string& name) const;
};

class CaptureServer {
 public:
  CaptureServer() = default;
  ~CaptureServer();
  CaptureServer(const CaptureServer&) = delete;
  CaptureServer& operator=(const CaptureServer&) = delete;

  // Listens on 127.0.0.1 at a free port. Throws std::runtime_error on failure.
  void Start();

  int port() const { return port_; }
  // "http://127.0.0.1:<port>"
  std::string BaseUrl() const;

  void Enqueue(Reply reply);
  // Answers requests once the queue is empty (initially a 200 with no body).
  void SetDefaultReply(Reply reply);

  std::vector<CapturedRequest> Requests() const;
  int ConnectionCount() const;

 private:
  class Connection;

  void AcceptLoop();
  void Serve(int fd);
  // False when the connection is to end.
  static bool Answer(Connection& connection, const Reply& reply);
  Reply NextReply();
  void Record(CapturedRequest request);
  void Forget(int fd);  // a connection closes `fd`

  int listen_fd_ = -1;
  int port_ = 0;
  std::thread acceptor_;

  mutable std::mutex mutex_;
  bool stopping_ = false;
  std::set<int> open_fds_;  // shut down by the destructor
  std::vector<std::thread> workers_;
  std::deque<Reply> replies_;
  Reply default_reply_;
  std::vector<CapturedRequest> requests_;
  int connections_ = 0;
};

}  // namespace orca_test

#endif  // ORCA_TEST_SUPPORT_CAPTURE_CAPTURESERVER_H_
