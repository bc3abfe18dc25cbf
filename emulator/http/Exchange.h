// One request and its answer as the handlers see it, with the helpers they
// share: reading the body, answering XML, JSON or an error.
#ifndef OCS_EMULATOR_HTTP_EXCHANGE_H_
#define OCS_EMULATOR_HTTP_EXCHANGE_H_

#include <httplib.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "emulator/http/Listener.h"
#include "emulator/service/Auth.h"
#include "emulator/service/Errors.h"

namespace ocs {

struct Exchange {
  Exchange(Role role, int port, const httplib::Request& req, httplib::Response& res,
           const httplib::ContentReader* reader);

  std::string target() const { return query.empty() ? path : path + "?" + query; }
  std::string header(const std::string& name) const { return req.get_header_value(name); }

  const Role role;
  const int port;
  const httplib::Request& req;
  httplib::Response& res;
  const httplib::ContentReader* const reader;  // null when the server read the body
  std::string path;                            // raw, as sent
  std::string query;                           // raw, without "?"
  std::map<std::string, std::string> params;   // query fields, not decoded
  std::string request_id;                      // unique within the process

  // Whether reading the body computes its MD5 (it costs as much as the rest
  // of an upload; only needed to check Content-MD5 and for the journal).
  bool hash_body = true;
  // Filled once the body has been read.
  bool body_read = false;
  uint64_t body_length = 0;
  std::string body_md5;  // hex; empty when not computed
  // Set when a fault resets the connection instead of answering.
  bool reset = false;
  // Set when a fault makes the handler serve the whole object whatever the
  // Range header asks.
  bool ignore_range = false;
};

using BodySink = std::function<bool(const char* data, size_t size)>;

// Reads the whole body, handing it to `sink` piece by piece (a null sink
// drops it), and records its length and (if `hash_body`) its MD5. Fails for a
// body over the size limit, a broken transfer, or a sink that refused (then
// `sink_error` if set); the connection then closes after the answer, since
// what is left of the body would be read as the next request.
std::optional<ApiError> ReadBody(Exchange& ex, const BodySink& sink,
                                 const std::function<ApiError()>& sink_error = nullptr);

// Reads a multipart/form-data body: `on_part` with each part's header, then
// `on_data` with its bytes. Records the length (not the MD5). Closes the
// connection after the answer when it fails, as ReadBody does.
std::optional<ApiError> ReadForm(
    Exchange& ex, const std::function<bool(const httplib::MultipartFormData&)>& on_part,
    const BodySink& on_data);

// Reads and drops what is left of the body.
void DrainBody(Exchange& ex);

// The declared Content-Length; nothing for a chunked or unsized body.
std::optional<uint64_t> DeclaredLength(const Exchange& ex);

RequestFacts FactsOf(const Exchange& ex);

void AnswerError(Exchange& ex, const ApiError& error);
void AnswerXml(Exchange& ex, const std::string& xml);
void AnswerJson(Exchange& ex, const std::string& json);

}  // namespace ocs

#endif  // OCS_EMULATOR_HTTP_EXCHANGE_H_
