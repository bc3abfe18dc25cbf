#include "emulator/admin/AdminJson.h"

namespace ocs {

void ReplyJson(httplib::Response& res, const std::function<void(JsonWriter&)>& write) {
  rapidjson::StringBuffer out;
  JsonWriter json(out);
  write(json);
  res.set_content(out.GetString(), "application/json");
}

void ReplyProblem(httplib::Response& res, int status, const std::string& why) {
  res.status = status;
  ReplyJson(res, [&](JsonWriter& json) {
    json.StartObject();
    json.Key("error");
    json.String(why.c_str());
    json.EndObject();
  });
}

bool ParseObject(const std::string& text, rapidjson::Document* doc, std::string* why) {
  doc->Parse(text.c_str(), text.size());
  if (doc->HasParseError() || !doc->IsObject()) {
    *why = "the body is not a JSON object";
    return false;
  }
  return true;
}

std::string StringField(const rapidjson::Value& doc, const char* name) {
  const auto it = doc.FindMember(name);
  return it != doc.MemberEnd() && it->value.IsString() ? it->value.GetString() : "";
}

int64_t IntField(const rapidjson::Value& doc, const char* name, int64_t fallback) {
  const auto it = doc.FindMember(name);
  return it != doc.MemberEnd() && it->value.IsInt64() ? it->value.GetInt64() : fallback;
}

}  // namespace ocs
