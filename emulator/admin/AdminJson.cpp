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

}  // namespace ocs
