#include "emulator/admin/AdminApi.h"

#include "emulator/admin/AdminJson.h"
#include "emulator/admin/LinkApi.h"

namespace ocs {
namespace {

std::string StringField(const rapidjson::Value& doc, const char* name) {
  const auto it = doc.FindMember(name);
  return it != doc.MemberEnd() && it->value.IsString() ? it->value.GetString() : "";
}

int64_t IntField(const rapidjson::Value& doc, const char* name, int64_t fallback) {
  const auto it = doc.FindMember(name);
  return it != doc.MemberEnd() && it->value.IsInt64() ? it->value.GetInt64() : fallback;
}

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

void WriteEntry(JsonWriter& json, const JournalEntry& entry) {
  json.StartObject();
  json.Key("seq");
  json.Uint64(entry.seq);
  json.Key("role");
  json.String(entry.role.c_str());
  json.Key("port");
  json.Int(entry.port);
  json.Key("method");
  json.String(entry.method.c_str());
  json.Key("path");
  json.String(entry.path.c_str(), static_cast<rapidjson::SizeType>(entry.path.size()));
  json.Key("query");
  json.String(entry.query.c_str(), static_cast<rapidjson::SizeType>(entry.query.size()));
  json.Key("headers");
  json.StartArray();
  for (const auto& [name, value] : entry.headers) {
    json.StartArray();
    json.String(name.c_str(), static_cast<rapidjson::SizeType>(name.size()));
    json.String(value.c_str(), static_cast<rapidjson::SizeType>(value.size()));
    json.EndArray();
  }
  json.EndArray();
  json.Key("body_length");
  json.Uint64(entry.body_length);
  json.Key("body_md5");
  json.String(entry.body_md5.c_str());
  json.Key("status");
  json.Int(entry.status);
  json.Key("fault");
  json.String(entry.fault.c_str());
  json.EndObject();
}

void WriteConnections(JsonWriter& json, const std::vector<const Listener*>& listeners) {
  json.StartObject();
  json.Key("nodes");
  json.StartArray();
  for (const Listener* listener : listeners) {
    if (listener->role() == Role::kNode) {
      json.Uint64(listener->accepted());
    }
  }
  json.EndArray();
  for (const Listener* listener : listeners) {
    if (listener->role() != Role::kNode) {
      json.Key(RoleKey(listener->role()).c_str());
      json.Uint64(listener->accepted());
    }
  }
  json.EndObject();
}

void WriteObjects(JsonWriter& json, Store& store, const std::string& pool) {
  json.StartObject();
  json.Key("objects");
  json.StartArray();
  for (const auto& [key, size] : store.ListObjects(pool)) {
    json.StartObject();
    json.Key("key");
    json.String(key.c_str(), static_cast<rapidjson::SizeType>(key.size()));
    json.Key("size");
    json.Uint64(size);
    json.EndObject();
  }
  json.EndArray();
  json.EndObject();
}

void WriteUploads(JsonWriter& json, Store& store) {
  json.StartObject();
  json.Key("uploads");
  json.StartArray();
  for (const auto& [id, upload] : store.ListUploads()) {
    json.StartObject();
    json.Key("id");
    json.String(id.c_str());
    json.Key("pool");
    json.String(upload.pool.c_str());
    json.Key("key");
    json.String(upload.key.c_str(), static_cast<rapidjson::SizeType>(upload.key.size()));
    json.Key("parts");
    json.StartArray();
    for (const auto& [number, size] : upload.parts) {
      json.StartObject();
      json.Key("number");
      json.Uint(number);
      json.Key("size");
      json.Uint64(size);
      json.EndObject();
    }
    json.EndArray();
    json.EndObject();
  }
  json.EndArray();
  json.EndObject();
}

void WriteRedirect(JsonWriter& json, const RedirectConfig& config) {
  json.StartObject();
  json.Key("mode");
  json.String(RedirectModeText(config).c_str());
  json.Key("status");
  json.Int(config.status);
  json.EndObject();
}

void InstallFaultRoutes(httplib::Server& server, const AdminTargets& t) {
  server.Post("/faults", [t](const httplib::Request& req, httplib::Response& res) {
    FaultMatch match;
    FaultAction action;
    int count = 1;
    std::string why;
    if (!ParseFaultRule(req.body, &match, &action, &count, &why)) {
      ReplyProblem(res, 400, why);
      return;
    }
    const uint64_t id = t.faults.Add(match, action, count);
    ReplyJson(res, [id](JsonWriter& json) {
      json.StartObject();
      json.Key("id");
      json.Uint64(id);
      json.EndObject();
    });
  });
  server.Get("/faults", [t](const httplib::Request&, httplib::Response& res) {
    ReplyJson(res, [&](JsonWriter& json) { WriteFaults(json, t.faults); });
  });
  server.Delete("/faults", [t](const httplib::Request&, httplib::Response& res) {
    t.faults.Clear();
    ReplyJson(res, [&](JsonWriter& json) { WriteFaults(json, t.faults); });
  });
  server.Post("/faults/random", [t](const httplib::Request& req, httplib::Response& res) {
    RandomFaults random;
    std::string why;
    if (!ParseRandomFaults(req.body, &random, &why)) {
      ReplyProblem(res, 400, why);
      return;
    }
    t.faults.SetRandom(random);
    ReplyJson(res, [&](JsonWriter& json) { WriteFaults(json, t.faults); });
  });
  server.Delete("/faults/random", [t](const httplib::Request&, httplib::Response& res) {
    t.faults.ClearRandom();
    ReplyJson(res, [&](JsonWriter& json) { WriteFaults(json, t.faults); });
  });
}

void InstallStateRoutes(httplib::Server& server, const AdminTargets& t) {
  server.Get("/redirect", [t](const httplib::Request&, httplib::Response& res) {
    ReplyJson(res, [&](JsonWriter& json) { WriteRedirect(json, t.ctx.redirects.Get()); });
  });
  server.Put("/redirect", [t](const httplib::Request& req, httplib::Response& res) {
    rapidjson::Document doc;
    std::string why;
    const auto config = ParseObject(req.body, &doc, &why)
                            ? ParseRedirectMode(StringField(doc, "mode"),
                                                static_cast<int>(IntField(doc, "status", 302)))
                            : std::nullopt;
    if (!config) {
      ReplyProblem(res, 400, "expected {\"mode\":\"off|always|every:N\",\"status\":301|302}");
      return;
    }
    t.ctx.redirects.Set(*config);
    ReplyJson(res, [&](JsonWriter& json) { WriteRedirect(json, *config); });
  });
  server.Get("/journal", [t](const httplib::Request&, httplib::Response& res) {
    ReplyJson(res, [&](JsonWriter& json) {
      json.StartObject();
      json.Key("entries");
      json.StartArray();
      for (const JournalEntry& entry : t.journal.Entries()) {
        WriteEntry(json, entry);
      }
      json.EndArray();
      json.EndObject();
    });
  });
  server.Delete("/journal", [t](const httplib::Request&, httplib::Response& res) {
    t.journal.Clear();
    ReplyJson(res, [](JsonWriter& json) {
      json.StartObject();
      json.Key("entries");
      json.StartArray();
      json.EndArray();
      json.EndObject();
    });
  });
  server.Get("/connections", [t](const httplib::Request&, httplib::Response& res) {
    ReplyJson(res, [&](JsonWriter& json) { WriteConnections(json, t.listeners); });
  });
  server.Get("/objects", [t](const httplib::Request& req, httplib::Response& res) {
    ReplyJson(res, [&](JsonWriter& json) {
      WriteObjects(json, t.ctx.store, req.get_param_value("pool"));
    });
  });
  server.Get("/uploads", [t](const httplib::Request&, httplib::Response& res) {
    ReplyJson(res, [&](JsonWriter& json) { WriteUploads(json, t.ctx.store); });
  });
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

void InstallAdminApi(httplib::Server& server, const AdminTargets& targets) {
  server.Get("/health", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("{\"ok\":true}", "application/json");
  });
  server.Get("/endpoints", [targets](const httplib::Request&, httplib::Response& res) {
    res.set_content(targets.endpoints_json(), "application/json");
  });
  InstallFaultRoutes(server, targets);
  InstallStateRoutes(server, targets);
  InstallLinkRoutes(server, targets.link);
}

}  // namespace ocs
