// Command-line options of ocs-emulator.
#ifndef OCS_EMULATOR_OPTIONS_H_
#define OCS_EMULATOR_OPTIONS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ocs {

// A storage pool and the key pair that owns it.
struct PoolConfig {
  std::string name;
  std::string ak;
  std::string sk;
  uint64_t quota = 0;  // bytes; 0 means unlimited
};

enum class RedirectMode { kOff, kAlways, kEveryNth };

// Whether object and picture downloads answer with a redirect to a node.
struct RedirectConfig {
  RedirectMode mode = RedirectMode::kOff;
  uint32_t every = 1;  // kEveryNth: the n-th, 2n-th, ... download is redirected
  int status = 302;    // 301 or 302
};

// "off", "always" or "every:N"; nothing for anything else.
std::optional<RedirectConfig> ParseRedirectMode(const std::string& text, int status);
std::string RedirectModeText(const RedirectConfig& config);

// Link emulation: the delay and rate every service port's traffic sees.
struct LinkConfig {
  uint32_t latency_ms = 0;      // one way, each direction
  uint64_t bandwidth_mbit = 0;  // each direction, shared by every connection; 0: unlimited
};

constexpr uint32_t kMaxLatencyMs = 10000;
constexpr uint64_t kMaxBandwidthMbit = 1000000;

// Checks the limits above; returns the problem or "".
std::string ValidateLink(const LinkConfig& link);

struct Options {
  std::string listen_address = "127.0.0.1";
  // Host written into node locations, gateway answers and redirects;
  // defaults to the listen address (127.0.0.1 when listening on 0.0.0.0).
  std::string advertise_address;
  int upload_port = 0;  // 0 picks a free port
  int download_port = 0;
  int node_count = 2;
  std::vector<int> node_ports;  // when given, one per node
  int gateway_port = 0;
  int gateway_download_port = 0;
  int admin_port = 0;  // plain HTTP on loopback, always
  std::vector<PoolConfig> pools;
  std::string data_dir = "ocs-data";
  std::string tls_cert;  // with tls_key: every service port speaks HTTPS
  std::string tls_key;
  bool no_auth = false;  // no Date, signature or Content-MD5 checks
  uint64_t default_quota = 0;
  std::string version = "ocs-emulator 1.0";
  int64_t max_skew_seconds = 900;  // 0 turns the clock-skew check off
  RedirectConfig redirect;
  uint64_t max_body = uint64_t{1} << 30;
  size_t max_threads = 256;  // per port
  int keep_alive_seconds = 30;
  bool log_requests = false;  // one line per request on standard error
  // Set when --latency-ms or --bandwidth-mbit is given (even as 0): the
  // service ports are then relayed through the emulated link.
  std::optional<LinkConfig> link;
};

// Parses the command line. On --help or an error it prints to the matching
// stream and returns nothing, with the exit status in `exit_code`.
std::optional<Options> ParseOptions(int argc, char** argv, int* exit_code);

// Checks pools and ports for consistency; returns the problem or "".
std::string ValidateOptions(const Options& options);

}  // namespace ocs

#endif  // OCS_EMULATOR_OPTIONS_H_
