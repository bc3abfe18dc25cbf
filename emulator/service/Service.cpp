#include "emulator/service/Service.h"

#include <cstdio>
#include <set>

#include "emulator/faults/FaultResponses.h"
#include "emulator/http/Sockets.h"
#include "emulator/service/Admission.h"
#include "emulator/service/Gateway.h"
#include "emulator/service/ObjectApi.h"

namespace ocs {
namespace {

constexpr char kRequestIdHeader[] = "X-Ocs-Request-Id";
constexpr char kAnyPath[] = "[\\s\\S]*";

// Fields the HTTP library adds to the request's headers itself.
bool IsPseudoHeader(const std::string& name) {
  static const std::set<std::string> kPseudo = {"REMOTE_ADDR", "REMOTE_PORT", "LOCAL_ADDR",
                                                "LOCAL_PORT"};
  return kPseudo.count(name) != 0;
}

// The service answers a Range itself with status 200; emptying the library's
// parsed ranges keeps it from slicing the answer into a 206. (The request
// object is the library's own, not a constant.)
void KeepRangesToUs(const httplib::Request& req) {
  const_cast<httplib::Request&>(req).ranges.clear();
}

// An XML error body for the answers the HTTP library makes itself
// (malformed requests, bodies over the limit, unparseable ranges).
httplib::Server::HandlerResponse LibraryError(const httplib::Request& req, httplib::Response& res) {
  if (res.has_header(kRequestIdHeader)) {
    return httplib::Server::HandlerResponse::Unhandled;
  }
  KeepRangesToUs(req);
  std::string code = "BadRequest";
  switch (res.status) {
    case 404:
      code = "NotFound";
      break;
    case 413:
      code = "EntityTooLarge";
      break;
    case 414:
      code = "RequestURITooLong";
      break;
    case 416:
      code = "InvalidRange";
      break;
    default:
      break;
  }
  res.set_content(
      ErrorXml(MakeError(res.status, code, "The request could not be served."), req.target, ""),
      "application/xml");
  return httplib::Server::HandlerResponse::Handled;
}

}  // namespace

void Service::Install(Listener& listener) {
  httplib::Server& server = listener.server();
  const Role role = listener.role();
  const auto plain = [this, role, &listener](const httplib::Request& req, httplib::Response& res) {
    Handle(role, listener.port(), req, res, nullptr);
  };
  const auto with_body = [this, role, &listener](const httplib::Request& req,
                                                 httplib::Response& res,
                                                 const httplib::ContentReader& reader) {
    Handle(role, listener.port(), req, res, &reader);
  };
  server.Get(kAnyPath, plain);
  server.Options(kAnyPath, plain);
  server.Put(kAnyPath, with_body);
  server.Post(kAnyPath, with_body);
  server.Delete(kAnyPath, with_body);
  server.Patch(kAnyPath, with_body);
  server.set_error_handler(httplib::Server::HandlerWithResponse(LibraryError));
  server.set_post_routing_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.get_header_value("Connection") == "close") {
      res.headers.erase("Keep-Alive");  // the library adds it to every answer
    }
  });
}

void Service::Handle(Role role, int port, const httplib::Request& req, httplib::Response& res,
                     const httplib::ContentReader* reader) {
  KeepRangesToUs(req);
  Exchange ex(role, port, req, res, reader);
  // Without authentication nothing checks Content-MD5: spare the digest.
  ex.hash_body = ctx_.auth.enabled();
  res.set_header(kRequestIdHeader, ex.request_id);
  const auto fault =
      faults_.Take(RoleName(role), req.method, ex.target(), req.get_header_value("Range"));
  ex.ignore_range = fault && fault->kind == FaultKind::kIgnoreRange;
  try {
    if (fault && ReplacesHandling(fault->kind)) {
      AnswerWithFault(ex, ctx_, *fault);
    } else {
      Dispatch(ex);
      DrainBody(ex);
      if (fault) {
        AlterAnswer(ex, ctx_, *fault);
      }
    }
  } catch (const std::exception& e) {
    AnswerError(ex, InternalError(e.what()));
  }
  Record(ex, fault);
  if (ex.reset) {
    ResetConnection(FindConnectionSocket(req.local_port, req.remote_port));
  }
}

void Service::Dispatch(Exchange& ex) {
  switch (ex.role) {
    case Role::kUpload:
      HandleUploadPort(ex, ctx_);
      break;
    case Role::kNode:
      HandleNodePort(ex, ctx_);
      break;
    case Role::kDownload:
      HandleDownloadPort(ex, ctx_);
      break;
    case Role::kGateway:
      HandleGatewayPort(ex, ctx_);
      break;
    case Role::kGatewayDownload:
      HandleGatewayDownloadPort(ex, ctx_);
      break;
    case Role::kAdmin:
      AnswerUnsupported(ex);
      break;
  }
}

void Service::Record(const Exchange& ex, const std::optional<FaultAction>& fault) {
  JournalEntry entry;
  entry.role = RoleName(ex.role);
  entry.port = ex.port;
  entry.method = ex.req.method;
  entry.path = ex.path;
  entry.query = ex.query;
  for (const auto& [name, value] : ex.req.headers) {
    if (!IsPseudoHeader(name)) {
      entry.headers.emplace_back(name, value);
    }
  }
  entry.body_length = ex.body_length;
  entry.body_md5 = ex.body_md5;
  entry.status = ex.reset ? 0 : ex.res.status;
  entry.fault = fault ? FaultKindName(fault->kind) : "";
  if (ctx_.options.log_requests) {
    std::fprintf(stderr, "ocs-emulator: %s %s %s -> %d%s%s\n", entry.role.c_str(),
                 entry.method.c_str(), ex.target().c_str(), entry.status,
                 entry.fault.empty() ? "" : " fault=", entry.fault.c_str());
  }
  journal_.Add(std::move(entry));
}

}  // namespace ocs
