#include "emulator/faults/FaultResponses.h"

#include <strings.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "emulator/http/Sockets.h"

namespace ocs {
namespace {

constexpr int kDefaultStatus = 503;
constexpr int kDefaultDelayMs = 1000;
constexpr uint64_t kDefaultHugeSize = uint64_t{100} << 20;

// An answer body as one provider of a known length, whatever form the
// handler left it in.
struct Body {
  uint64_t length = 0;
  httplib::ContentProvider provider;
  std::string type;
};

bool HasBody(const httplib::Response& res) {
  return !res.body.empty() || (res.content_provider_ && res.content_length_ > 0);
}

Body TakeBody(httplib::Response& res) {
  Body body;
  body.type = res.get_header_value("Content-Type");
  if (body.type.empty()) {
    body.type = "application/octet-stream";
  }
  if (res.content_provider_ && res.content_length_ > 0) {
    body.length = res.content_length_;
    body.provider = res.content_provider_;
  } else {
    auto text = std::make_shared<std::string>(std::move(res.body));
    body.length = text->size();
    body.provider = [text](size_t offset, size_t length, httplib::DataSink& sink) {
      return sink.write(text->data() + offset, std::min(length, text->size() - offset));
    };
  }
  res.body.clear();
  res.content_provider_ = nullptr;
  res.content_length_ = 0;
  res.headers.erase("Content-Type");  // the library adds one per provider it is given
  return body;
}

// Puts `text` as the whole body in place of what the handler left.
void ReplaceBody(httplib::Response& res, const std::string& text) {
  const Body old = TakeBody(res);
  res.set_content(text, old.type);
}

// The connection this exchange arrived on.
int ConnectionOf(const Exchange& ex) {
  return FindConnectionSocket(ex.req.local_port, ex.req.remote_port);
}

std::string BrokenDocument(Role role) {
  return role == Role::kGateway ? R"({"GatewayIP":"127.0.0.1","GatewayPort":)"
                                : R"(<?xml version="1.0" encoding="UTF-8"?><BestNodeInfo><Loc)";
}

void AnswerHuge(Exchange& ex, const FaultAction& action) {
  static const std::string kHead = "<Error><Code>InternalError</Code><Message>";
  const uint64_t size =
      std::max<uint64_t>(action.size == 0 ? kDefaultHugeSize : action.size, kHead.size());
  ex.res.status = action.status == 0 ? 500 : action.status;
  ex.res.set_content_provider(
      size, "application/xml", [](size_t offset, size_t length, httplib::DataSink& sink) {
        static const std::string kFiller(64 << 10, 'x');
        if (offset < kHead.size()) {
          return sink.write(kHead.data() + offset, std::min(length, kHead.size() - offset));
        }
        return sink.write(kFiller.data(), std::min(length, kFiller.size()));
      });
}

void AnswerLocation(Exchange& ex, Context& ctx, const FaultAction& action) {
  std::string location = action.location;
  if (action.kind == FaultKind::kLoopLocation) {
    location = ctx.UrlOn(ex.port, ex.target());
  } else if (location.empty()) {
    const std::string authority =
        ctx.options.advertise_address + ":" + std::to_string(ctx.node_ports.front());
    const std::string wrong_scheme = ctx.scheme == "https" ? "http" : "https";
    location = action.variant == "nopath" ? ctx.scheme + "://" + authority
                                          : wrong_scheme + "://" + authority + ex.target();
  }
  ex.res.status = 302;
  ex.res.set_header("Location", location);
}

// Sends half the body, then calls `at_half`: it returns true to go on (a
// stall) or false to end the answer there (a reset). The body must not be
// empty.
void SplitBody(Exchange& ex, const std::function<bool()>& at_half) {
  Body body = TakeBody(ex.res);
  const uint64_t half = body.length / 2;
  auto reached = std::make_shared<bool>(false);
  ex.res.set_content_provider(
      body.length, body.type,
      [body, half, reached, at_half](size_t offset, size_t length, httplib::DataSink& sink) {
        if (offset < half) {
          return body.provider(offset, std::min<size_t>(length, half - offset), sink);
        }
        if (!*reached) {
          *reached = true;
          if (!at_half()) {
            return false;
          }
        }
        return body.provider(offset, length, sink);
      });
}

// Sends the body without Content-Length: chunked, or up to the closing of
// the connection.
void UnsizedBody(Exchange& ex, bool chunked) {
  Body body = TakeBody(ex.res);
  if (chunked) {
    ex.res.set_chunked_content_provider(body.type, [body](size_t offset, httplib::DataSink& sink) {
      if (offset >= body.length) {
        sink.done();
        return true;
      }
      return body.provider(offset, body.length - offset, sink);
    });
    return;
  }
  ex.res.set_header("Connection", "close");
  ex.res.set_content_provider(body.type, [body](size_t offset, httplib::DataSink& sink) {
    // Ending the answer with false closes the connection, which ends the body.
    return offset < body.length && body.provider(offset, body.length - offset, sink);
  });
}

void ShortBody(Exchange& ex) {
  Body body = TakeBody(ex.res);
  if (body.length < 2) {
    auto padding = std::make_shared<std::string>(16, ' ');
    body.length = padding->size();
    body.provider = [padding](size_t offset, size_t length, httplib::DataSink& sink) {
      return sink.write(padding->data() + offset, std::min(length, padding->size() - offset));
    };
  }
  const uint64_t half = body.length / 2;
  ex.res.set_content_provider(
      body.length, body.type, [body, half](size_t offset, size_t length, httplib::DataSink& sink) {
        return offset < half &&
               body.provider(offset, std::min<size_t>(length, half - offset), sink);
      });
}

// A well-formed answer `drop` bytes shorter than the handler's.
void TrimBody(Exchange& ex, uint64_t drop) {
  Body body = TakeBody(ex.res);
  body.length -= std::min(drop, body.length);
  ex.res.set_content_provider(body.length, body.type, body.provider);
}

void RemoveHeader(Exchange& ex, const std::string& name) {
  if (strcasecmp(name.c_str(), "Content-Length") == 0) {
    UnsizedBody(ex, false);
  } else {
    ex.res.headers.erase(name);
  }
}

}  // namespace

void AnswerWithFault(Exchange& ex, Context& ctx, const FaultAction& action) {
  if (action.kind == FaultKind::kReset) {
    ex.reset = true;
    ex.res.status = 500;  // never sent
    return;
  }
  DrainBody(ex);
  switch (action.kind) {
    case FaultKind::kStatus:
      if (action.delay_ms > 0) {
        ctx.stop.SleepFor(std::chrono::milliseconds(action.delay_ms));
      }
      ex.res.status = action.status == 0 ? kDefaultStatus : action.status;
      ex.res.set_content(action.body,
                         action.content_type.empty() ? "application/xml" : action.content_type);
      break;
    case FaultKind::kNotEnoughSpace:
      AnswerError(ex, NotEnoughSpace(ex.path));
      break;
    case FaultKind::kHugeBody:
      AnswerHuge(ex, action);
      break;
    case FaultKind::kBadLocation:
    case FaultKind::kLoopLocation:
      AnswerLocation(ex, ctx, action);
      break;
    default:
      break;
  }
}

void AlterAnswer(Exchange& ex, Context& ctx, const FaultAction& action) {
  const auto delay =
      std::chrono::milliseconds(action.delay_ms == 0 ? kDefaultDelayMs : action.delay_ms);
  switch (action.kind) {
    case FaultKind::kDelay:
      ctx.stop.SleepFor(delay);
      break;
    case FaultKind::kStall:
      if (HasBody(ex.res)) {
        SplitBody(ex, [&stop = ctx.stop, delay] { return stop.SleepFor(delay); });
      } else {
        ctx.stop.SleepFor(delay);
      }
      break;
    case FaultKind::kResetMidBody:
      if (HasBody(ex.res)) {
        SplitBody(ex, [fd = ConnectionOf(ex)] {
          ResetConnection(fd);
          return false;
        });
      } else {
        ex.reset = true;  // no middle to reset in
      }
      break;
    case FaultKind::kShortBody:
      ShortBody(ex);
      break;
    case FaultKind::kChunked:
      UnsizedBody(ex, true);
      break;
    case FaultKind::kMalformed:
      ReplaceBody(ex.res, BrokenDocument(ex.role));
      break;
    case FaultKind::kEmpty:
      ReplaceBody(ex.res, "");
      break;
    case FaultKind::kMissingHeader:
      RemoveHeader(ex, action.header);
      break;
    case FaultKind::kTrimBody:
      TrimBody(ex, action.size == 0 ? 1 : action.size);
      break;
    default:
      break;
  }
}

}  // namespace ocs
