#include "emulator/Options.h"

#include <CLI/CLI.hpp>
#include <map>
#include <set>

#include "emulator/service/KeyPath.h"

namespace ocs {
namespace {

constexpr char kDefaultPool[] = "pool1:ocs-ak:ocs-sk";

std::vector<std::string> SplitColons(const std::string& text) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t colon; (colon = text.find(':', start)) != std::string::npos; start = colon + 1) {
    fields.push_back(text.substr(start, colon - start));
  }
  fields.push_back(text.substr(start));
  return fields;
}

// "NAME:AK:SK[:QUOTA]".
std::optional<PoolConfig> ParsePool(const std::string& text, uint64_t default_quota) {
  const auto fields = SplitColons(text);
  if (fields.size() < 3 || fields.size() > 4) {
    return std::nullopt;
  }
  PoolConfig pool{fields[0], fields[1], fields[2], default_quota};
  if (fields.size() == 4) {
    try {
      pool.quota = std::stoull(fields[3]);
    } catch (const std::exception&) {
      return std::nullopt;
    }
  }
  return pool;
}

}  // namespace

std::optional<RedirectConfig> ParseRedirectMode(const std::string& text, int status) {
  if (status != 301 && status != 302) {
    return std::nullopt;
  }
  RedirectConfig config;
  config.status = status;
  if (text == "off") {
    config.mode = RedirectMode::kOff;
  } else if (text == "always") {
    config.mode = RedirectMode::kAlways;
  } else if (text.compare(0, 6, "every:") == 0) {
    try {
      const unsigned long every = std::stoul(text.substr(6));
      if (every == 0 || every > UINT32_MAX) {
        return std::nullopt;
      }
      config.mode = RedirectMode::kEveryNth;
      config.every = static_cast<uint32_t>(every);
    } catch (const std::exception&) {
      return std::nullopt;
    }
  } else {
    return std::nullopt;
  }
  return config;
}

std::string RedirectModeText(const RedirectConfig& config) {
  switch (config.mode) {
    case RedirectMode::kAlways:
      return "always";
    case RedirectMode::kEveryNth:
      return "every:" + std::to_string(config.every);
    case RedirectMode::kOff:
      break;
  }
  return "off";
}

std::string ValidateLink(const LinkConfig& link) {
  if (link.latency_ms > kMaxLatencyMs) {
    return "the latency must be at most " + std::to_string(kMaxLatencyMs) + " ms";
  }
  if (link.bandwidth_mbit > kMaxBandwidthMbit) {
    return "the bandwidth must be at most " + std::to_string(kMaxBandwidthMbit) + " Mbit/s";
  }
  return "";
}

std::string ValidateOptions(const Options& options) {
  if (options.pools.empty()) {
    return "at least one pool is needed";
  }
  std::set<std::string> names;
  std::map<std::string, std::string> secrets;
  for (const auto& pool : options.pools) {
    if (!IsValidPoolName(pool.name)) {
      return "invalid pool name \"" + pool.name + "\"";
    }
    if (pool.ak.empty() || pool.sk.empty()) {
      return "pool " + pool.name + " needs an access key and a secret key";
    }
    if (!names.insert(pool.name).second) {
      return "pool " + pool.name + " is given twice";
    }
    const auto [it, inserted] = secrets.emplace(pool.ak, pool.sk);
    if (!inserted && it->second != pool.sk) {
      return "access key " + pool.ak + " is given two secret keys";
    }
  }
  if (options.node_count < 1 || options.node_count > 64) {
    return "--nodes must be 1 to 64";
  }
  if (!options.node_ports.empty() &&
      options.node_ports.size() != static_cast<size_t>(options.node_count)) {
    return "--node-port must be given once per node";
  }
  if (options.tls_cert.empty() != options.tls_key.empty()) {
    return "--tls-cert and --tls-key go together";
  }
  if (options.data_dir.empty()) {
    return "--data-dir must not be empty";
  }
  if (options.link) {
    return ValidateLink(*options.link);
  }
  return "";
}

std::optional<Options> ParseOptions(int argc, char** argv, int* exit_code) {
  Options options;
  std::vector<std::string> pool_texts;
  std::string redirect = "off";
  int redirect_status = 302;
  CLI::App app{
      "ocs-emulator: a local emulator of the object-storage service and its picture "
      "gateway"};
  app.add_option("--listen", options.listen_address, "Listen address")->capture_default_str();
  app.add_option("--advertise", options.advertise_address,
                 "Host named in node locations, gateway answers and redirects");
  app.add_option("--upload-port", options.upload_port, "Upload port (0: any free port)");
  app.add_option("--download-port", options.download_port, "Download port");
  app.add_option("--nodes", options.node_count, "Number of data nodes")->capture_default_str();
  app.add_option("--node-port", options.node_ports, "Port of each data node (repeat)");
  app.add_option("--gateway-port", options.gateway_port, "Picture gateway port");
  app.add_option("--gateway-download-port", options.gateway_download_port, "Picture download port");
  app.add_option("--admin-port", options.admin_port, "Admin API port (plain HTTP, loopback)");
  app.add_option("--pool", pool_texts,
                 std::string("Pool NAME:AK:SK[:QUOTA] (repeat; default ") + kDefaultPool + ")");
  app.add_option("--data-dir", options.data_dir, "Data directory")->capture_default_str();
  app.add_option("--tls-cert", options.tls_cert, "PEM certificate: serve HTTPS");
  app.add_option("--tls-key", options.tls_key, "PEM private key of --tls-cert");
  app.add_flag("--no-auth", options.no_auth, "Skip Date, signature and Content-MD5 checks");
  app.add_option("--quota", options.default_quota, "Default pool quota in bytes (0: unlimited)");
  app.add_option("--version-text", options.version, "Text of /?version")->capture_default_str();
  app.add_option("--max-skew", options.max_skew_seconds, "Allowed clock skew in seconds (0: off)")
      ->capture_default_str();
  app.add_option("--redirect", redirect, "Download redirects: off, always or every:N")
      ->capture_default_str();
  app.add_option("--redirect-status", redirect_status, "301 or 302")->capture_default_str();
  app.add_option("--max-body", options.max_body, "Largest request body in bytes")
      ->capture_default_str();
  app.add_option("--threads", options.max_threads, "Most worker threads per port")
      ->capture_default_str();
  app.add_option("--keep-alive", options.keep_alive_seconds, "Keep-alive time-out in seconds")
      ->capture_default_str();
  app.add_flag("--log-requests", options.log_requests, "Log each request on standard error");
  LinkConfig link;
  const CLI::Option* latency = app.add_option(
      "--latency-ms", link.latency_ms, "Link emulation: one-way delay of the service ports in ms");
  const CLI::Option* bandwidth =
      app.add_option("--bandwidth-mbit", link.bandwidth_mbit,
                     "Link emulation: rate of each direction in Mbit/s, all connections "
                     "together (0: unlimited)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    *exit_code = app.exit(e);
    return std::nullopt;
  }
  if (latency->count() + bandwidth->count() > 0) {
    options.link = link;
  }
  if (pool_texts.empty()) {
    pool_texts.emplace_back(kDefaultPool);
  }
  for (const auto& text : pool_texts) {
    const auto pool = ParsePool(text, options.default_quota);
    if (!pool) {
      std::fprintf(stderr, "ocs-emulator: bad --pool \"%s\" (NAME:AK:SK[:QUOTA])\n", text.c_str());
      *exit_code = 2;
      return std::nullopt;
    }
    options.pools.push_back(*pool);
  }
  const auto redirect_config = ParseRedirectMode(redirect, redirect_status);
  std::string problem = redirect_config ? ValidateOptions(options) : "bad --redirect";
  if (!problem.empty()) {
    std::fprintf(stderr, "ocs-emulator: %s\n", problem.c_str());
    *exit_code = 2;
    return std::nullopt;
  }
  options.redirect = *redirect_config;
  if (options.advertise_address.empty()) {
    options.advertise_address =
        options.listen_address == "0.0.0.0" ? "127.0.0.1" : options.listen_address;
  }
  *exit_code = 0;
  return options;
}

}  // namespace ocs
