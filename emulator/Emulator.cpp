#include "emulator/Emulator.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <chrono>

#include "emulator/admin/AdminApi.h"

namespace ocs {
namespace {

int64_t NowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

int PortOf(const Options& options, Role role, size_t node_index) {
  switch (role) {
    case Role::kUpload:
      return options.upload_port;
    case Role::kDownload:
      return options.download_port;
    case Role::kNode:
      return options.node_ports.empty() ? 0 : options.node_ports[node_index];
    case Role::kGateway:
      return options.gateway_port;
    case Role::kGatewayDownload:
      return options.gateway_download_port;
    case Role::kAdmin:
      return options.admin_port;
  }
  return 0;
}

std::string CannotListen(const std::string& host, int port, Role role) {
  return "cannot listen on " + host + ":" + std::to_string(port) + " (" + RoleName(role) + ")";
}

}  // namespace

Emulator::Emulator(Options options)
    : options_(std::move(options)),
      store_(options_.data_dir, options_.pools),
      auth_(options_.pools, !options_.no_auth, options_.max_skew_seconds, NowSeconds),
      ctx_(options_, store_, auth_),
      service_(ctx_, faults_, journal_) {}

Emulator::~Emulator() { Stop(); }

Listener& Emulator::AddListener(Role role, const TlsFiles* tls) {
  ListenerSettings settings;
  settings.max_threads = options_.max_threads;
  settings.keep_alive_seconds = options_.keep_alive_seconds;
  settings.max_body = options_.max_body;
  listeners_.push_back(std::make_unique<Listener>(role, settings, tls));
  return *listeners_.back();
}

std::string Emulator::BindAll() {
  size_t node_index = 0;
  for (auto& listener : listeners_) {
    const Role role = listener->role();
    const std::string host = role == Role::kAdmin ? "127.0.0.1" : options_.listen_address;
    const int port = PortOf(options_, role, role == Role::kNode ? node_index++ : 0);
    if (!listener->valid()) {
      return "the TLS certificate or key could not be loaded";
    }
    if (link_ != nullptr && role != Role::kAdmin) {
      if (std::string problem = BindRelayed(*listener, host, port); !problem.empty()) {
        return problem;
      }
    } else if (!listener->Bind(host, port)) {
      return CannotListen(host, port, role);
    }
    if (role == Role::kNode) {
      ctx_.node_ports.push_back(listener->port());
    } else if (role == Role::kGateway) {
      ctx_.gateway_port = listener->port();
    }
  }
  return "";
}

std::string Emulator::BindRelayed(Listener& listener, const std::string& host, int port) {
  if (!listener.Bind("127.0.0.1", 0)) {
    return CannotListen("127.0.0.1", 0, listener.role());
  }
  relays_.push_back(std::make_unique<Relay>(*link_, listener.bound_port()));
  if (std::string problem = relays_.back()->Bind(host, port); !problem.empty()) {
    return CannotListen(host, port, listener.role()) + ": " + problem;
  }
  listener.SetPublicPort(relays_.back()->port());
  return "";
}

std::string Emulator::Start() {
  if (std::string problem = store_.Open(); !problem.empty()) {
    return problem;
  }
  if (options_.link) {
    link_ = std::make_unique<Link>(*options_.link);
  }
  const TlsFiles tls{options_.tls_cert, options_.tls_key};
  const TlsFiles* service_tls = options_.tls_cert.empty() ? nullptr : &tls;
  AddListener(Role::kUpload, service_tls);
  AddListener(Role::kDownload, service_tls);
  for (int i = 0; i < options_.node_count; ++i) {
    AddListener(Role::kNode, service_tls);
  }
  AddListener(Role::kGateway, service_tls);
  AddListener(Role::kGatewayDownload, service_tls);
  Listener& admin = AddListener(Role::kAdmin, nullptr);
  if (std::string problem = BindAll(); !problem.empty()) {
    return problem;
  }
  std::vector<const Listener*> service_ports;
  for (auto& listener : listeners_) {
    if (listener.get() != &admin) {
      service_.Install(*listener);
      service_ports.push_back(listener.get());
    }
  }
  InstallAdminApi(admin.server(), AdminTargets{ctx_, faults_, journal_, service_ports, link_.get(),
                                               [this] { return EndpointsJson(); }});
  for (auto& listener : listeners_) {
    listener->Start();
  }
  for (auto& relay : relays_) {
    relay->Start();
  }
  started_ = true;
  return "";
}

void Emulator::Stop() {
  if (!started_) {
    return;
  }
  started_ = false;
  ctx_.stop.Stop();
  for (auto& relay : relays_) {
    relay->Stop();  // first: the clients' connections close before the servers'
  }
  for (auto& listener : listeners_) {
    listener->Stop();
  }
}

std::string Emulator::EndpointsJson() const {
  rapidjson::StringBuffer out;
  rapidjson::Writer<rapidjson::StringBuffer> json(out);
  json.StartObject();
  json.Key("address");
  json.String(options_.advertise_address.c_str());
  json.Key("scheme");
  json.String(ctx_.scheme.c_str());
  json.Key("nodes");
  json.StartArray();
  for (const auto& listener : listeners_) {
    if (listener->role() == Role::kNode) {
      json.Int(listener->port());
    }
  }
  json.EndArray();
  for (const auto& listener : listeners_) {
    if (listener->role() != Role::kNode) {
      json.Key(RoleKey(listener->role()).c_str());
      json.Int(listener->port());
    }
  }
  json.Key("data_dir");
  json.String(options_.data_dir.c_str());
  json.Key("pools");
  json.StartArray();
  for (const auto& pool : options_.pools) {
    json.StartObject();
    json.Key("name");
    json.String(pool.name.c_str());
    json.Key("ak");
    json.String(pool.ak.c_str());
    json.EndObject();
  }
  json.EndArray();
  json.EndObject();
  return out.GetString();
}

}  // namespace ocs
