#include "emulator/admin/AdminApi.h"

#include "emulator/admin/AdminJson.h"
#include "emulator/admin/FaultApi.h"
#include "emulator/admin/LinkApi.h"

namespace ocs {
namespace {

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

void InstallAdminApi(httplib::Server& server, const AdminTargets& targets) {
  server.Get("/health", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("{\"ok\":true}", "application/json");
  });
  server.Get("/endpoints", [targets](const httplib::Request&, httplib::Response& res) {
    res.set_content(targets.endpoints_json(), "application/json");
  });
  InstallFaultRoutes(server, targets.faults);
  InstallStateRoutes(server, targets);
  InstallLinkRoutes(server, targets.link);
}

}  // namespace ocs
