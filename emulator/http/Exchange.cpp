#include "emulator/http/Exchange.h"

#include <atomic>
#include <cinttypes>
#include <cstdio>

#include "emulator/http/DirectBody.h"
#include "emulator/service/Crypto.h"

namespace ocs {
namespace {

std::atomic<uint64_t> g_request_counter{0};

std::map<std::string, std::string> SplitQuery(const std::string& query) {
  std::map<std::string, std::string> params;
  size_t start = 0;
  while (start < query.size()) {
    size_t end = query.find('&', start);
    if (end == std::string::npos) {
      end = query.size();
    }
    const std::string field = query.substr(start, end - start);
    const size_t equals = field.find('=');
    params[field.substr(0, equals)] = equals == std::string::npos ? "" : field.substr(equals + 1);
    start = end + 1;
  }
  return params;
}

bool HasBody(const Exchange& ex) {
  return ex.req.has_header("Content-Length") ||
         ex.header("Transfer-Encoding").find("chunked") != std::string::npos;
}

// The failure to report after the body reader gave up, given the status
// the HTTP library set.
ApiError ReadFailure(int library_status) {
  if (library_status == 413) {
    return MakeError(413, "EntityTooLarge", "The request body is larger than allowed.");
  }
  return BadRequest("IncompleteBody", "The request body could not be read whole.");
}

// Reads a body that is not a form through the library's content reader;
// for a large one only its first piece, and the rest straight from the
// connection.
bool ReadPlainBody(const Exchange& ex, const BodySink& receive) {
  const auto length = DeclaredLength(ex);
  const int direct_fd = length ? DirectBodySocket(ex.req, *length) : -1;
  uint64_t handed_over = 0;  // bytes of the first piece, once the rest is ours
  const bool ok = (*ex.reader)([&](const char* data, size_t size) {
    if (!receive(data, size)) {
      return false;
    }
    handed_over = direct_fd >= 0 ? size : 0;
    return direct_fd < 0;  // false stops the library
  });
  if (handed_over == 0) {
    return ok;
  }
  return ReadRestDirectly(direct_fd, *length - handed_over, receive);
}

void CloseAfterAnswer(Exchange& ex) { ex.res.set_header("Connection", "close"); }

}  // namespace

Exchange::Exchange(Role role_in, int port_in, const httplib::Request& req_in,
                   httplib::Response& res_in, const httplib::ContentReader* reader_in)
    : role(role_in), port(port_in), req(req_in), res(res_in), reader(reader_in) {
  const size_t mark = req.target.find('?');
  path = req.target.substr(0, mark);
  query = mark == std::string::npos ? "" : req.target.substr(mark + 1);
  params = SplitQuery(query);
  char id[24];
  std::snprintf(id, sizeof(id), "%016" PRIx64, g_request_counter.fetch_add(1) + 1);
  request_id = id;
}

std::optional<ApiError> ReadBody(Exchange& ex, const BodySink& sink,
                                 const std::function<ApiError()>& sink_error) {
  if (ex.body_read) {
    return std::nullopt;
  }
  ex.body_read = true;
  Md5 md5;
  bool refused = false;
  const auto receive = [&](const char* data, size_t size) {
    if (ex.hash_body) {
      md5.Update(data, size);
    }
    ex.body_length += size;
    if (sink && !sink(data, size)) {
      refused = true;
      return false;
    }
    return true;
  };
  bool ok = true;
  const int status = ex.res.status;  // the library sets one when reading fails
  if (ex.reader == nullptr) {
    ok = receive(ex.req.body.data(), ex.req.body.size());
  } else if (ex.req.is_multipart_form_data()) {
    ok = !HasBody(ex) ||
         (*ex.reader)([](const httplib::MultipartFormData&) { return true; }, receive);
  } else if (HasBody(ex)) {
    ok = ReadPlainBody(ex, receive);
  }
  const int library_status = ex.res.status;
  ex.res.status = status;
  // Form bodies reach the sink without their delimiters: no digest of those.
  ex.body_md5 = ex.hash_body && !ex.req.is_multipart_form_data() ? md5.HexDigest() : "";
  if (refused || !ok) {
    CloseAfterAnswer(ex);  // the rest of the body is still on the connection
  }
  if (refused) {
    return sink_error ? sink_error() : BadRequest("InvalidRequest", "The body was refused.");
  }
  if (!ok) {
    ex.body_md5.clear();
    return ReadFailure(library_status);
  }
  return std::nullopt;
}

std::optional<ApiError> ReadForm(
    Exchange& ex, const std::function<bool(const httplib::MultipartFormData&)>& on_part,
    const BodySink& on_data) {
  ex.body_read = true;
  if (ex.reader == nullptr || !ex.req.is_multipart_form_data() || !HasBody(ex)) {
    return BadRequest("MalformedForm", "The body is not a multipart/form-data form.");
  }
  bool refused = false;
  const bool ok = (*ex.reader)(on_part, [&](const char* data, size_t size) {
    ex.body_length += size;
    refused = !on_data(data, size);
    return !refused;
  });
  if (refused || !ok) {
    CloseAfterAnswer(ex);  // the rest of the body is still on the connection
    return ex.res.status == 413 ? ReadFailure(ex.res.status)
                                : BadRequest("MalformedForm", "The form could not be parsed.");
  }
  return std::nullopt;
}

void DrainBody(Exchange& ex) { ReadBody(ex, nullptr); }

std::optional<uint64_t> DeclaredLength(const Exchange& ex) {
  if (!ex.req.has_header("Content-Length") ||
      ex.header("Transfer-Encoding").find("chunked") != std::string::npos) {
    return std::nullopt;
  }
  try {
    return std::stoull(ex.header("Content-Length"));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

RequestFacts FactsOf(const Exchange& ex) {
  RequestFacts facts;
  facts.method = ex.req.method;
  facts.target = ex.req.target;
  if (ex.req.has_header("Date")) {
    facts.date = ex.header("Date");
  }
  if (ex.req.has_header("Authorization")) {
    facts.authorization = ex.header("Authorization");
  }
  facts.content_type = ex.header("Content-Type");
  facts.content_md5 = ex.header("Content-MD5");
  return facts;
}

void AnswerError(Exchange& ex, const ApiError& error) {
  ex.res.status = error.status;
  ex.res.set_content(ErrorXml(error, ex.target(), ex.request_id), "application/xml");
}

void AnswerXml(Exchange& ex, const std::string& xml) {
  ex.res.status = 200;
  ex.res.set_content(xml, "application/xml");
}

void AnswerJson(Exchange& ex, const std::string& json) {
  ex.res.status = 200;
  ex.res.set_content(json, "application/json");
}

}  // namespace ocs
