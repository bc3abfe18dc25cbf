#include "emulator/admin/LinkApi.h"

#include "emulator/admin/AdminJson.h"

namespace ocs {
namespace {

constexpr char kLinkOff[] =
    "link emulation is off: start ocs-emulator with --latency-ms or --bandwidth-mbit (0 will "
    "do) to change the link while it runs";

// Reads member `name` of `doc` into *value when present; false when it is
// not a non-negative integer.
template <typename T>
bool ReadCount(const rapidjson::Value& doc, const char* name, T* value) {
  const auto it = doc.FindMember(name);
  if (it == doc.MemberEnd()) {
    return true;
  }
  if (!it->value.IsUint64()) {
    return false;
  }
  *value = static_cast<T>(it->value.GetUint64());
  return it->value.GetUint64() == static_cast<uint64_t>(*value);
}

void WriteLink(JsonWriter& json, const LinkConfig& config) {
  json.StartObject();
  json.Key("latency_ms");
  json.Uint(config.latency_ms);
  json.Key("bandwidth_mbit");
  json.Uint64(config.bandwidth_mbit);
  json.EndObject();
}

}  // namespace

bool ParseLinkDocument(const std::string& json, LinkConfig* config, std::string* why) {
  rapidjson::Document doc;
  if (!ParseObject(json, &doc, why)) {
    return false;
  }
  if (!ReadCount(doc, "latency_ms", &config->latency_ms) ||
      !ReadCount(doc, "bandwidth_mbit", &config->bandwidth_mbit)) {
    *why = "\"latency_ms\" and \"bandwidth_mbit\" must be non-negative integers";
    return false;
  }
  *why = ValidateLink(*config);
  return why->empty();
}

void InstallLinkRoutes(httplib::Server& server, Link* link) {
  server.Get("/link", [link](const httplib::Request&, httplib::Response& res) {
    if (link == nullptr) {
      ReplyProblem(res, 409, kLinkOff);
      return;
    }
    ReplyJson(res, [&](JsonWriter& json) { WriteLink(json, link->Get()); });
  });
  server.Put("/link", [link](const httplib::Request& req, httplib::Response& res) {
    if (link == nullptr) {
      ReplyProblem(res, 409, kLinkOff);
      return;
    }
    LinkConfig config = link->Get();
    std::string why;
    if (!ParseLinkDocument(req.body, &config, &why)) {
      ReplyProblem(res, 400, why);
      return;
    }
    link->Set(config);
    ReplyJson(res, [&](JsonWriter& json) { WriteLink(json, config); });
  });
}

}  // namespace ocs
