// Test fixture: a private ocs-emulator child process for end-to-end tests.
//
//   orca_test::Emulator emulator;  // HTTP, fresh data directory
//   Orca::CloudStorage::CObjectClient client(emulator.ObjectConfig());
//   emulator.AddFault({"reset", "download"});  // the next download is reset
//   auto requests = emulator.Journal();
//
// The emulator listens on free loopback ports; its data directory (and, for
// HTTPS, a throw-away CA and server certificate) live in a temporary folder
// removed by the destructor. HTTPS tests decide themselves whether to point
// ORCA_CS_CA_BUNDLE at ca_bundle().
//
// Two pools, both empty at first: "pool1" (ak "ocs-test-ak1", sk
// "ocs-test-sk1") and "pool2" (likewise with 2). Keys GeneratedKey(size,
// seed) are readable in any pool without being stored; their bytes are those
// of GeneratedBytes.
//
// Failures to start or to reach the admin API throw std::runtime_error.
// Fault kinds, roles and the journal are described in emulator/README.md.
#ifndef ORCA_TEST_SUPPORT_EMULATOR_EMULATOR_H_
#define ORCA_TEST_SUPPORT_EMULATOR_EMULATOR_H_

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "OrcaCloudStorage/StorageClient.h"
#include "TestCerts.h"

namespace orca_test {

struct EmulatorOptions {
  bool https = false;                   // every service port speaks HTTPS
  bool no_auth = false;                 // no Date, signature or Content-MD5 checks
  int nodes = 2;                        // data nodes
  uint64_t quota = 0;                   // bytes per pool; 0 means unlimited
  std::string redirect = "off";         // downloads: "off", "always" or "every:N"
  std::vector<std::string> extra_args;  // further ocs-emulator options
};

struct EmulatorPool {
  std::string name;
  std::string ak;
  std::string sk;
};

struct EmulatorEndpoints {
  std::string address;  // "127.0.0.1"
  int upload = 0;
  int download = 0;
  std::vector<int> nodes;
  int gateway = 0;           // picture gateway: BestNode and Write
  int gateway_download = 0;  // picture downloads
  int admin = 0;             // admin API, plain HTTP
};

// A fault rule. Empty role/method match any; `path` is a glob ("*" = any
// run of characters) over the request's path and query. Roles: "upload",
// "download", "node", "gateway", "gateway-download". Kinds: status,
// not_enough_space, huge_body, reset, bad_location, loop_location, delay,
// stall, reset_mid_body, short_body, chunked, malformed, empty,
// missing_header, ignore_range, trim_body.
struct EmulatorFault {
  std::string kind;
  std::string role;
  std::string method;
  std::string path = "*";
  int count = 1;        // requests it applies to
  int status = 0;       // status, huge_body (0: the kind's default)
  std::string body;     // status
  int delay_ms = 0;     // delay, stall (0: 1000 ms); status (0: at once)
  std::string header;   // missing_header, e.g. "Object-Size", "Location"
  std::string variant;  // bad_location: "scheme" (default) or "nopath"
  uint64_t size = 0;    // huge_body (0: 100 MiB), trim_body (0: 1)
  std::string range;    // glob over the Range header; "" matches any request
};

struct EmulatorRequest {
  std::string role;
  std::string method;
  std::string path;   // as sent
  std::string query;  // as sent, without "?"
  // Sorted by name (case-insensitively), as the HTTP server parsed them.
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body_md5;  // hex; empty for form bodies and unread bodies
  int status = 0;        // 0 when the connection was reset instead
  std::string fault;     // fault kind applied, or ""

  // The first header field named `name` (case-insensitive), or "".
  std::string Header(const std::string& name) const;
};

struct EmulatorConnections {  // connections accepted per port
  uint64_t upload = 0;
  uint64_t download = 0;
  std::vector<uint64_t> nodes;
};

class Emulator {
 public:
  explicit Emulator(EmulatorOptions options = {});
  ~Emulator();
  Emulator(const Emulator&) = delete;
  Emulator& operator=(const Emulator&) = delete;

  const EmulatorEndpoints& endpoints() const { return endpoints_; }
  const std::string& data_dir() const { return data_dir_; }
  const std::string& ca_bundle() const { return pki_.ca_cert; }  // "" over HTTP
  bool https() const { return options_.https; }
  static const EmulatorPool& pool(size_t index = 0);

  // Client configurations for pool `index`: objects (upload and download
  // ports) and pictures (gateway and gateway download ports).
  Orca::CloudStorage::SStorageServerConfig ObjectConfig(size_t index = 0) const;
  Orca::CloudStorage::SStorageServerConfig PictureConfig(size_t index = 0) const;
  // The version query's server record (upload port, keys of pool `index`).
  Orca::CloudStorage::SStorageServerInfo VersionServer(size_t index = 0) const;

  // Fault injection. AddFault returns the rule's id.
  uint64_t AddFault(const EmulatorFault& fault);
  // Random faults: each request matching `filter` (role, method, path; its
  // status, delay_ms... parameterise the kinds) gets one of `kinds` with
  // probability `probability`, drawn from a generator seeded with `seed`.
  void SetRandomFaults(uint64_t seed, double probability, const std::vector<std::string>& kinds,
                       const EmulatorFault& filter = {});
  void ClearFaults();  // rules and random mode
  // Download redirects: "off", "always" or "every:N"; status 301 or 302.
  void SetRedirect(const std::string& mode, int status = 302);

  std::vector<EmulatorRequest> Journal();
  void ClearJournal();
  EmulatorConnections Connections();
  // Visible objects of `pool` (key, size); open multipart uploads.
  std::vector<std::pair<std::string, uint64_t>> Objects(const std::string& pool);
  size_t OpenUploads();

  // Any admin request; returns the status, the body into `body`.
  int Admin(const std::string& method, const std::string& path, const std::string& json = "",
            std::string* body = nullptr);

  // Stops the process (SIGTERM) and starts it again on the same ports with
  // the same data directory. Faults, redirects and the journal start afresh.
  void Restart();
  // SIGTERM; waits for the exit and returns its status (-1 if it had to be
  // killed). Idempotent.
  int Stop();

 private:
  // The command line; ports are those of endpoints_ (0: any free port).
  std::vector<std::string> Arguments() const;
  void Spawn();

  EmulatorOptions options_;
  std::string temp_dir_;
  std::string data_dir_;
  TestPki pki_;  // HTTPS only
  EmulatorEndpoints endpoints_;
  pid_t pid_ = -1;
  int exit_status_ = -1;
};

// The key of a generated object of `size` bytes with `seed`.
std::string GeneratedKey(uint64_t size, uint64_t seed);
// The url of that generated object in the first pool ("/pool1/KEY").
std::string GeneratedUrl(uint64_t size, uint64_t seed);
// Bytes [offset, offset + n) of the generated object with `seed`.
std::string GeneratedBytes(uint64_t seed, uint64_t offset, size_t n);

}  // namespace orca_test

#endif  // ORCA_TEST_SUPPORT_EMULATOR_EMULATOR_H_
