#include "Emulator.h"

#include <fcntl.h>
#include <httplib.h>
#include <poll.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <signal.h>
#include <strings.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "emulator/store/Pattern.h"

namespace orca_test {
namespace {

constexpr char kEmulatorPath[] = ORCA_TEST_EMULATOR_PATH;
constexpr char kEndpointsPrefix[] = "OCS-EMULATOR ";
constexpr int kStartTimeoutMs = 60 * 1000;
constexpr auto kStopTimeout = std::chrono::seconds(30);

const std::array<EmulatorPool, 2> kPools = {{
    {"pool1", "ocs-test-ak1", "ocs-test-sk1"},
    {"pool2", "ocs-test-ak2", "ocs-test-sk2"},
}};

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error("emulator fixture: " + what);
}

std::string MakeTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/ocs-emulator-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    Fail("cannot create a temporary folder");
  }
  return pattern;
}

// The first line the emulator prints; each byte must come within the start
// time-out.
std::string ReadLine(int fd) {
  std::string line;
  char c = 0;
  while (c != '\n') {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, kStartTimeoutMs) <= 0 || ::read(fd, &c, 1) != 1) {
      Fail("ocs-emulator printed no endpoints line");
    }
    line += c;
  }
  return line;
}

// The member `name` of `value`, or T{} when it is missing or of another type.
template <typename T>
T Member(const rapidjson::Value& value, const char* name) {
  const auto it = value.FindMember(name);
  return it != value.MemberEnd() && it->value.Is<T>() ? it->value.Get<T>() : T{};
}

rapidjson::Document ParseJson(const std::string& text) {
  rapidjson::Document doc;
  doc.Parse(text.c_str(), text.size());
  if (doc.HasParseError() || !doc.IsObject()) {
    Fail("not a JSON object: " + text.substr(0, 200));
  }
  return doc;
}

EmulatorEndpoints ParseEndpoints(const std::string& line) {
  if (line.compare(0, sizeof(kEndpointsPrefix) - 1, kEndpointsPrefix) != 0) {
    Fail("unexpected first line: " + line);
  }
  const rapidjson::Document doc = ParseJson(line.substr(sizeof(kEndpointsPrefix) - 1));
  EmulatorEndpoints endpoints;
  endpoints.address = Member<std::string>(doc, "address");
  endpoints.upload = Member<int>(doc, "upload");
  endpoints.download = Member<int>(doc, "download");
  endpoints.gateway = Member<int>(doc, "gateway");
  endpoints.gateway_download = Member<int>(doc, "gateway_download");
  endpoints.admin = Member<int>(doc, "admin");
  for (const auto& node : doc["nodes"].GetArray()) {
    endpoints.nodes.push_back(node.GetInt());
  }
  return endpoints;
}

// The fault rule as a JSON object; `more` writes further members into it.
template <typename More>
std::string FaultJson(const EmulatorFault& fault, More more) {
  rapidjson::StringBuffer out;
  rapidjson::Writer<rapidjson::StringBuffer> json(out);
  json.StartObject();
  const std::pair<const char*, const std::string*> texts[] = {
      {"kind", &fault.kind},       {"role", &fault.role},   {"method", &fault.method},
      {"path", &fault.path},       {"body", &fault.body},   {"header", &fault.header},
      {"variant", &fault.variant}, {"range", &fault.range},
  };
  for (const auto& [name, value] : texts) {
    if (!value->empty()) {
      json.Key(name);
      json.String(*value);
    }
  }
  const std::pair<const char*, int> numbers[] = {
      {"count", fault.count}, {"status", fault.status}, {"delay_ms", fault.delay_ms}};
  for (const auto& [name, value] : numbers) {
    json.Key(name);
    json.Int(value);
  }
  json.Key("size");
  json.Uint64(fault.size);
  more(json);
  json.EndObject();
  return out.GetString();
}

EmulatorRequest ParseRequest(const rapidjson::Value& entry) {
  EmulatorRequest request;
  request.role = Member<std::string>(entry, "role");
  request.method = Member<std::string>(entry, "method");
  request.path = Member<std::string>(entry, "path");
  request.query = Member<std::string>(entry, "query");
  for (const auto& header : entry["headers"].GetArray()) {
    request.headers.emplace_back(header[0].Get<std::string>(), header[1].Get<std::string>());
  }
  request.body_md5 = Member<std::string>(entry, "body_md5");
  request.status = Member<int>(entry, "status");
  request.fault = Member<std::string>(entry, "fault");
  return request;
}

// An admin request that must answer 200; returns its JSON body.
rapidjson::Document AdminOk(Emulator& emulator, const std::string& method, const std::string& path,
                            const std::string& json = "") {
  std::string body;
  const int status = emulator.Admin(method, path, json, &body);
  if (status != 200) {
    Fail(method + " " + path + " answered " + std::to_string(status) + ": " + body);
  }
  return ParseJson(body);
}

}  // namespace

std::string EmulatorRequest::Header(const std::string& name) const {
  for (const auto& [field, value] : headers) {
    if (strcasecmp(field.c_str(), name.c_str()) == 0) {
      return value;
    }
  }
  return "";
}

Emulator::Emulator(EmulatorOptions options) : options_(std::move(options)) {
  temp_dir_ = MakeTempDir();
  data_dir_ = temp_dir_ + "/data";
  if (options_.https) {
    pki_ = MakeTestPki(temp_dir_);
  }
  Spawn();
}

Emulator::~Emulator() {
  Stop();
  std::error_code ignored;
  std::filesystem::remove_all(temp_dir_, ignored);
}

const EmulatorPool& Emulator::pool(size_t index) { return kPools.at(index); }

std::vector<std::string> Emulator::Arguments() const {
  std::vector<std::string> args = {
      kEmulatorPath, "--data-dir",     data_dir_, "--nodes", std::to_string(options_.nodes),
      "--redirect",  options_.redirect};
  for (const EmulatorPool& pool : kPools) {
    args.emplace_back("--pool");
    args.push_back(pool.name + ":" + pool.ak + ":" + pool.sk + ":" +
                   std::to_string(options_.quota));
  }
  if (options_.https) {
    args.insert(args.end(), {"--tls-cert", pki_.server_cert, "--tls-key", pki_.server_key});
  }
  if (options_.no_auth) {
    args.emplace_back("--no-auth");
  }
  const std::pair<const char*, int> ports[] = {
      {"--upload-port", endpoints_.upload},
      {"--download-port", endpoints_.download},
      {"--gateway-port", endpoints_.gateway},
      {"--gateway-download-port", endpoints_.gateway_download},
      {"--admin-port", endpoints_.admin},
  };
  for (const auto& [option, port] : ports) {
    args.insert(args.end(), {option, std::to_string(port)});
  }
  for (const int port : endpoints_.nodes) {
    args.insert(args.end(), {"--node-port", std::to_string(port)});
  }
  args.insert(args.end(), options_.extra_args.begin(), options_.extra_args.end());
  return args;
}

void Emulator::Spawn() {
  const std::vector<std::string> args = Arguments();
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    Fail("pipe failed");
  }
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& arg : args) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    // Sockets of the test (say to another emulator) must not live on in the child.
    ::closefrom(STDERR_FILENO + 1);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  if (pid_ < 0) {
    ::close(out[0]);
    Fail("fork failed");
  }
  try {
    endpoints_ = ParseEndpoints(ReadLine(out[0]));
  } catch (...) {
    ::close(out[0]);
    Stop();
    throw;
  }
  ::close(out[0]);
}

int Emulator::Stop() {
  if (pid_ <= 0) {
    return exit_status_;
  }
  ::kill(pid_, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + kStopTimeout;
  int status = 0;
  pid_t done = 0;
  while ((done = ::waitpid(pid_, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (done == 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
  }
  exit_status_ = done != 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  pid_ = -1;
  return exit_status_;
}

void Emulator::Restart() {
  Stop();
  Spawn();
}

Orca::CloudStorage::SStorageServerConfig Emulator::ObjectConfig(size_t index) const {
  Orca::CloudStorage::SStorageServerConfig config;
  config.use_https = options_.https;
  config.upload_port = static_cast<uint32_t>(endpoints_.upload);
  config.download_port = static_cast<uint32_t>(endpoints_.download);
  config.pool_name = pool(index).name;
  config.ip = endpoints_.address;
  config.ak = pool(index).ak;
  config.sk = pool(index).sk;
  return config;
}

Orca::CloudStorage::SStorageServerConfig Emulator::PictureConfig(size_t index) const {
  Orca::CloudStorage::SStorageServerConfig config = ObjectConfig(index);
  config.upload_port = static_cast<uint32_t>(endpoints_.gateway);
  config.download_port = static_cast<uint32_t>(endpoints_.gateway_download);
  return config;
}

Orca::CloudStorage::SStorageServerInfo Emulator::VersionServer(size_t index) const {
  Orca::CloudStorage::SStorageServerInfo info;
  info.ip = endpoints_.address;
  info.port = static_cast<uint32_t>(endpoints_.upload);
  info.ak = pool(index).ak;
  info.sk = pool(index).sk;
  return info;
}

int Emulator::Admin(const std::string& method, const std::string& path, const std::string& json,
                    std::string* body) {
  httplib::Client admin("127.0.0.1", endpoints_.admin);
  admin.set_read_timeout(30, 0);
  httplib::Request request;
  request.method = method;
  request.path = path;
  if (!json.empty()) {
    request.body = json;
    request.set_header("Content-Type", "application/json");
  }
  const httplib::Result result = admin.send(request);
  if (!result) {
    Fail("admin request " + method + " " + path + " failed: " + httplib::to_string(result.error()));
  }
  if (body != nullptr) {
    *body = result->body;
  }
  return result->status;
}

uint64_t Emulator::AddFault(const EmulatorFault& fault) {
  const std::string json = FaultJson(fault, [](auto& /*json*/) {});
  return Member<uint64_t>(AdminOk(*this, "POST", "/faults", json), "id");
}

void Emulator::SetRandomFaults(uint64_t seed, double probability,
                               const std::vector<std::string>& kinds, const EmulatorFault& filter) {
  const auto random_mode = [&](auto& json) {
    json.Key("seed");
    json.Uint64(seed);
    json.Key("probability");
    json.Double(probability);
    json.Key("kinds");
    json.StartArray();
    for (const std::string& kind : kinds) {
      json.String(kind);
    }
    json.EndArray();
  };
  AdminOk(*this, "POST", "/faults/random", FaultJson(filter, random_mode));
}

void Emulator::ClearFaults() { AdminOk(*this, "DELETE", "/faults"); }

void Emulator::SetRedirect(const std::string& mode, int status) {
  AdminOk(*this, "PUT", "/redirect",
          "{\"mode\":\"" + mode + "\",\"status\":" + std::to_string(status) + "}");
}

std::vector<EmulatorRequest> Emulator::Journal() {
  const rapidjson::Document doc = AdminOk(*this, "GET", "/journal");
  std::vector<EmulatorRequest> requests;
  for (const auto& entry : doc["entries"].GetArray()) {
    requests.push_back(ParseRequest(entry));
  }
  return requests;
}

void Emulator::ClearJournal() { AdminOk(*this, "DELETE", "/journal"); }

EmulatorConnections Emulator::Connections() {
  const rapidjson::Document doc = AdminOk(*this, "GET", "/connections");
  EmulatorConnections counts;
  counts.upload = Member<uint64_t>(doc, "upload");
  counts.download = Member<uint64_t>(doc, "download");
  for (const auto& node : doc["nodes"].GetArray()) {
    counts.nodes.push_back(node.GetUint64());
  }
  return counts;
}

std::vector<std::pair<std::string, uint64_t>> Emulator::Objects(const std::string& pool_name) {
  const rapidjson::Document doc =
      AdminOk(*this, "GET", "/objects?pool=" + httplib::detail::encode_query_param(pool_name));
  std::vector<std::pair<std::string, uint64_t>> objects;
  for (const auto& object : doc["objects"].GetArray()) {
    objects.emplace_back(Member<std::string>(object, "key"), Member<uint64_t>(object, "size"));
  }
  return objects;
}

size_t Emulator::OpenUploads() {
  return AdminOk(*this, "GET", "/uploads")["uploads"].GetArray().Size();
}

std::string GeneratedKey(uint64_t size, uint64_t seed) { return ocs::MakeGeneratedKey(size, seed); }

std::string GeneratedUrl(uint64_t size, uint64_t seed) {
  return "/" + Emulator::pool().name + "/" + GeneratedKey(size, seed);
}

std::string GeneratedBytes(uint64_t seed, uint64_t offset, size_t n) {
  std::string bytes(n, '\0');
  ocs::FillPattern(seed, offset, bytes.data(), n);
  return bytes;
}

}  // namespace orca_test
