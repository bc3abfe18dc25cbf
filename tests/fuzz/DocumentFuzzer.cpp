// Fuzzes the document component: parsing XML and JSON answers, reading and
// writing them by path.
//
// Input: one byte (even: XML, odd: JSON), the document up to a line "--",
// then one path per line; each is read, written (text, then number) and read
// back. Properties: a value written is read back as written, and an XML
// document the component writes parses again (the completion body is built
// this way and must be accepted).
#include <cstdint>
#include <memory>
#include <string>

#include "FuzzInput.h"
#include "proto/Proto.h"

namespace {

std::unique_ptr<proto::IProto> NewDocument(bool json) {
  return json ? std::unique_ptr<proto::IProto>(std::make_unique<proto::CRapidJsonProto>())
              : std::make_unique<proto::CXmlProto>();
}

// Writes `value` at `path` and reads it back; true when the write was taken.
template <typename Value>
bool WriteAndRead(proto::IProto& document, const std::string& path, Value value,
                  const std::string& text) {
  const bool taken = document.set_v(path, value);
  if (taken && document.get_v(path, "") != text) orca_fuzz::Broken("set_v then get_v differ");
  return taken;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orca_fuzz::FuzzInput input(data, size);
  const bool json = (input.Byte() & 1) != 0;
  const std::string rest = input.Rest();
  const size_t split = rest.find("\n--\n");
  const std::unique_ptr<proto::IProto> document = NewDocument(json);
  bool has_content = document->set_str(rest.substr(0, split));
  if (split != std::string::npos) {
    orca_fuzz::FuzzInput paths(data + 1 + split + 4, rest.size() - split - 4);  // past "--"
    for (int64_t i = 1; !paths.empty(); ++i) {
      const std::string path = paths.Line();
      const int64_t number = i % 2 == 0 ? i * 7919 : -i;
      document->get_v(path, "");
      const std::string text = "v" + std::to_string(number);
      has_content |= WriteAndRead(*document, path, text, text);
      has_content |= WriteAndRead(*document, path, number, std::to_string(number));
    }
  }
  const std::string compact = document->get_str(0);
  document->get_str(1);
  if (!json && has_content && !NewDocument(json)->set_str(compact)) {
    orca_fuzz::Broken("an XML document written by get_str does not parse again");
  }
  return 0;
}
