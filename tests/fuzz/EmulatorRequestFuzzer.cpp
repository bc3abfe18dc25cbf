// Fuzzes the emulator's reading of requests: raw HTTP requests through the
// service's handlers, and its parsers one by one. Input: one byte choosing
//   0-9  a raw request to the port of role (byte % 5) in kRoles, signatures
//        checked (no clock-skew limit) when byte / 5 is odd
//   10 Date | 11 Authorization | 12 signed resource and media type | 13 a
//   "<size>" line, then a Range | 14 an object path | 15 a completion
//   document | 16 a fault rule or random-fault document (JSON)
// Properties: a resolved range lies within the object; a key's file name is
// one safe path component that decodes back to the key.
#include <httplib.h>

#include <cstdint>
#include <memory>
#include <string>

#include "FuzzInput.h"
#include "emulator/admin/FaultApi.h"
#include "emulator/admin/Journal.h"
#include "emulator/faults/Faults.h"
#include "emulator/http/HttpDate.h"
#include "emulator/http/Listener.h"
#include "emulator/service/Auth.h"
#include "emulator/service/Context.h"
#include "emulator/service/KeyPath.h"
#include "emulator/service/Multipart.h"
#include "emulator/service/Ranges.h"
#include "emulator/service/Service.h"
#include "emulator/service/Signing.h"
#include "emulator/store/Store.h"

namespace {

using orca_fuzz::Broken;

constexpr ocs::Role kRoles[] = {ocs::Role::kUpload, ocs::Role::kDownload, ocs::Role::kNode,
                                ocs::Role::kGateway, ocs::Role::kGatewayDownload};
constexpr uint64_t kQuota = 1 << 20;  // keeps the data folder small

// The request's bytes in, the answer's bytes dropped.
class RequestStream : public httplib::detail::BufferStream {
 public:
  explicit RequestStream(const std::string& request) {
    BufferStream::write(request.data(), request.size());
  }
  ssize_t write(const char* /*ptr*/, size_t size) override { return static_cast<ssize_t>(size); }
};

// Reaches the HTTP server's handling of one request read from a stream.
struct ServerAccess : httplib::Server {
  using httplib::Server::process_request;
};

// The emulator's service ports, in this process, without sockets.
class InProcessService {
 public:
  InProcessService(const std::string& root, bool auth)
      : options_(MakeOptions(root, auth)),
        store_(options_.data_dir, options_.pools),
        auth_(options_.pools, auth, options_.max_skew_seconds, [] { return int64_t{0}; }),
        ctx_(options_, store_, auth_),
        journal_(16),
        service_(ctx_, faults_, journal_) {
    if (!store_.Open().empty()) Broken("the data folder cannot be opened");
    ctx_.node_ports = {40010, 40011};
    ctx_.gateway_port = 40012;
    ocs::ListenerSettings settings;
    settings.max_body = kQuota;
    for (const ocs::Role role : kRoles) {
      listeners_.push_back(std::make_unique<ocs::Listener>(role, settings, nullptr));
      service_.Install(*listeners_.back());
    }
  }

  void Serve(size_t role, const std::string& request) {
    RequestStream stream(request);
    bool closed = false;
    (listeners_[role]->server().*(&ServerAccess::process_request))(stream, true, closed,
                                                                   [](httplib::Request&) {});
  }

 private:
  static ocs::Options MakeOptions(const std::string& root, bool auth) {
    ocs::Options options;
    options.data_dir = root + (auth ? "/auth" : "/open");
    options.pools = {{"pool1", "ak1", "sk1", kQuota}, {"pool2", "ak2", "sk2", kQuota}};
    options.no_auth = !auth;
    options.max_skew_seconds = 0;
    options.advertise_address = "127.0.0.1";
    return options;
  }

  const ocs::Options options_;
  ocs::Store store_;
  ocs::Authenticator auth_;
  ocs::Context ctx_;
  ocs::FaultInjector faults_;
  ocs::Journal journal_;
  ocs::Service service_;
  std::vector<std::unique_ptr<ocs::Listener>> listeners_;
};

void ServeRequest(uint8_t choice, const std::string& request) {
  static const orca_fuzz::ScratchDir root;
  static InProcessService open(root.path(), false);
  static InProcessService checked(root.path(), true);
  ((choice / 5) % 2 == 0 ? open : checked).Serve(choice % 5, request);
}

void CheckRange(orca_fuzz::FuzzInput& input) {
  const uint64_t size = std::strtoull(input.Line().c_str(), nullptr, 10);
  ocs::ByteRange range;
  std::string why;
  const ocs::RangeOutcome outcome = ocs::ResolveRange(input.Rest(), size, &range, &why);
  if (outcome == ocs::RangeOutcome::kRange && (range.first > range.last || range.last >= size)) {
    Broken("a resolved range lies outside the object");
  }
}

void CheckObjectPath(const std::string& path) {
  std::string why;
  const auto address = ocs::ParseObjectPath(path, &why);
  if (!address) {
    return;
  }
  for (const std::string& name : {address->pool, address->key}) {
    const std::string file = ocs::EncodeFileName(name);
    if (file.empty() || file == "." || file == ".." || file.find('/') != std::string::npos ||
        file.find('\0') != std::string::npos || ocs::DecodeFileName(file) != name) {
      Broken("a name's file name is not one safe component that decodes back");
    }
  }
}

// The parsers of single fields and documents; none may crash.
void ParseText(uint8_t choice, const std::string& text) {
  std::string why;
  if (choice == 10) {
    ocs::ParseClientDate(text);
  } else if (choice == 11) {
    ocs::ParseAuthorization(text);
  } else if (choice == 12) {
    ocs::SignedResource(text);
    ocs::MediaType(text);
    ocs::CheckContentMd5(text, "900150983cd24fb0d6963f7d28e17f72", true);
  } else if (choice == 14) {
    CheckObjectPath(text);
  } else if (choice == 15) {
    ocs::ParseCompletion(text, &why);
  } else {
    ocs::FaultMatch match;
    ocs::FaultAction action;
    int count = 0;
    ocs::RandomFaults random;
    ocs::ParseFaultRule(text, &match, &action, &count, &why);
    ocs::ParseRandomFaults(text, &random, &why);
    ocs::GlobMatch(text.substr(0, text.size() / 2), text.substr(text.size() / 2));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orca_fuzz::FuzzInput input(data, size);
  const uint8_t choice = input.Byte() % 17;
  if (choice < 10) {
    ServeRequest(choice, input.Rest());
  } else if (choice == 13) {
    CheckRange(input);
  } else {
    ParseText(choice, input.Rest());
  }
  return 0;
}
