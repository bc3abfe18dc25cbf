#include "emulator/admin/FaultApi.h"

#include "emulator/admin/AdminJson.h"

namespace ocs {
namespace {

FaultMatch MatchOf(const rapidjson::Value& doc) {
  FaultMatch match;
  match.role = StringField(doc, "role");
  match.method = StringField(doc, "method");
  match.path = StringField(doc, "path");
  match.range = StringField(doc, "range");
  return match;
}

FaultAction ActionOf(const rapidjson::Value& doc) {
  FaultAction action;
  action.status = static_cast<int>(IntField(doc, "status", 0));
  action.body = StringField(doc, "body");
  action.content_type = StringField(doc, "content_type");
  action.delay_ms = static_cast<int>(IntField(doc, "delay_ms", 0));
  action.header = StringField(doc, "header");
  action.variant = StringField(doc, "variant");
  action.location = StringField(doc, "location");
  action.size = static_cast<uint64_t>(IntField(doc, "size", 0));
  return action;
}

void WriteMatch(JsonWriter& json, const FaultMatch& match) {
  json.Key("role");
  json.String(match.role.c_str());
  json.Key("method");
  json.String(match.method.c_str());
  json.Key("path");
  json.String(match.path.c_str());
  json.Key("range");
  json.String(match.range.c_str());
}

void WriteFaults(JsonWriter& json, const FaultInjector& faults) {
  json.StartObject();
  json.Key("rules");
  json.StartArray();
  for (const FaultRule& rule : faults.Rules()) {
    json.StartObject();
    json.Key("id");
    json.Uint64(rule.id);
    json.Key("kind");
    json.String(FaultKindName(rule.action.kind));
    WriteMatch(json, rule.match);
    json.Key("remaining");
    json.Int(rule.remaining);
    json.EndObject();
  }
  json.EndArray();
  json.Key("random");
  const auto random = faults.Random();
  if (!random) {
    json.Null();
  } else {
    json.StartObject();
    json.Key("seed");
    json.Uint64(random->seed);
    json.Key("probability");
    json.Double(random->probability);
    json.Key("kinds");
    json.StartArray();
    for (const FaultKind kind : random->kinds) {
      json.String(FaultKindName(kind));
    }
    json.EndArray();
    WriteMatch(json, random->match);
    json.EndObject();
  }
  json.EndObject();
}

}  // namespace

bool ParseFaultRule(const std::string& json, FaultMatch* match, FaultAction* action, int* count,
                    std::string* why) {
  rapidjson::Document doc;
  if (!ParseObject(json, &doc, why)) {
    return false;
  }
  const auto kind = ParseFaultKind(StringField(doc, "kind"));
  if (!kind) {
    *why = "unknown or missing \"kind\"";
    return false;
  }
  *match = MatchOf(doc);
  *action = ActionOf(doc);
  action->kind = *kind;
  const int64_t wanted = IntField(doc, "count", 1);
  if (wanted < 1 || wanted > 1000000000) {
    *why = "\"count\" must be 1 or more";
    return false;
  }
  *count = static_cast<int>(wanted);
  return true;
}

bool ParseRandomFaults(const std::string& json, RandomFaults* random, std::string* why) {
  rapidjson::Document doc;
  if (!ParseObject(json, &doc, why)) {
    return false;
  }
  const auto probability = doc.FindMember("probability");
  const auto kinds = doc.FindMember("kinds");
  if (probability == doc.MemberEnd() || !probability->value.IsNumber() ||
      kinds == doc.MemberEnd() || !kinds->value.IsArray() || kinds->value.Empty()) {
    *why = "\"probability\" and a non-empty \"kinds\" list are needed";
    return false;
  }
  random->probability = probability->value.GetDouble();
  random->seed = static_cast<uint64_t>(IntField(doc, "seed", 0));
  random->kinds.clear();
  for (const auto& name : kinds->value.GetArray()) {
    const auto kind = name.IsString() ? ParseFaultKind(name.GetString()) : std::nullopt;
    if (!kind) {
      *why = "unknown fault kind in \"kinds\"";
      return false;
    }
    random->kinds.push_back(*kind);
  }
  random->match = MatchOf(doc);
  random->params = ActionOf(doc);
  return true;
}

void InstallFaultRoutes(httplib::Server& server, FaultInjector& faults) {
  server.Post("/faults", [&faults](const httplib::Request& req, httplib::Response& res) {
    FaultMatch match;
    FaultAction action;
    int count = 1;
    std::string why;
    if (!ParseFaultRule(req.body, &match, &action, &count, &why)) {
      ReplyProblem(res, 400, why);
      return;
    }
    const uint64_t id = faults.Add(match, action, count);
    ReplyJson(res, [id](JsonWriter& json) {
      json.StartObject();
      json.Key("id");
      json.Uint64(id);
      json.EndObject();
    });
  });
  server.Get("/faults", [&faults](const httplib::Request&, httplib::Response& res) {
    ReplyJson(res, [&](JsonWriter& json) { WriteFaults(json, faults); });
  });
  server.Delete("/faults", [&faults](const httplib::Request&, httplib::Response& res) {
    faults.Clear();
    ReplyJson(res, [&](JsonWriter& json) { WriteFaults(json, faults); });
  });
  server.Post("/faults/random", [&faults](const httplib::Request& req, httplib::Response& res) {
    RandomFaults random;
    std::string why;
    if (!ParseRandomFaults(req.body, &random, &why)) {
      ReplyProblem(res, 400, why);
      return;
    }
    faults.SetRandom(random);
    ReplyJson(res, [&](JsonWriter& json) { WriteFaults(json, faults); });
  });
  server.Delete("/faults/random", [&faults](const httplib::Request&, httplib::Response& res) {
    faults.ClearRandom();
    ReplyJson(res, [&](JsonWriter& json) { WriteFaults(json, faults); });
  });
}

}  // namespace ocs
