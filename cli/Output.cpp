#include "cli/Output.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdio>

namespace ocs {
namespace {

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

struct WriteValue {
  JsonWriter& writer;
  void operator()(const std::string& text) const {
    writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
  }
  void operator()(uint64_t number) const { writer.Uint64(number); }
  void operator()(double number) const { writer.Double(number); }
  void operator()(bool flag) const { writer.Bool(flag); }
};

}  // namespace

Result& Result::Add(std::string name, Value value) {
  fields_.emplace_back(std::move(name), std::move(value));
  return *this;
}

std::string Result::Json() const {
  rapidjson::StringBuffer buffer;
  JsonWriter writer(buffer);
  writer.StartObject();
  for (const auto& [name, value] : fields_) {
    writer.Key(name.data(), static_cast<rapidjson::SizeType>(name.size()));
    std::visit(WriteValue{writer}, value);
  }
  writer.EndObject();
  return buffer.GetString();
}

void Result::Print(bool json, const std::string& text) const {
  if (json) {
    std::printf("%s\n", Json().c_str());
  } else if (!text.empty()) {
    std::printf("%s\n", text.c_str());
  }
}

int Complain(const std::string& message, int exit_code) {
  std::fprintf(stderr, "ocs: %s\n", message.c_str());
  return exit_code;
}

int ComplainCancelled() { return Complain("cancelled", kExitCancelled); }

}  // namespace ocs
