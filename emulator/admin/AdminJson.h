// JSON answers and request documents of the admin API.
#ifndef OCS_EMULATOR_ADMIN_ADMINJSON_H_
#define OCS_EMULATOR_ADMIN_ADMINJSON_H_

#include <httplib.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdint>
#include <functional>
#include <string>

namespace ocs {

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

// Answers with the JSON that `write` produces.
void ReplyJson(httplib::Response& res, const std::function<void(JsonWriter&)>& write);
// Answers `status` with {"error":why}.
void ReplyProblem(httplib::Response& res, int status, const std::string& why);
// Parses `text` as a JSON object; on failure `why` says so.
bool ParseObject(const std::string& text, rapidjson::Document* doc, std::string* why);
// Member `name` of `doc` when it is a string, else "".
std::string StringField(const rapidjson::Value& doc, const char* name);
// Member `name` of `doc` when it is an integer, else `fallback`.
int64_t IntField(const rapidjson::Value& doc, const char* name, int64_t fallback);

}  // namespace ocs

#endif  // OCS_EMULATOR_ADMIN_ADMINJSON_H_
