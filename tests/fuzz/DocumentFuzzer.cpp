// Fuzzes the document component: parsing XML and JSON answers, reading and
// writing them by path.
//
// Input: one byte (even: XML, odd: JSON), the document up to a line "--",
// then one path per line. Each path is read, written (text, then number)
// and read back. Properties: a value written is read back as written, and
// an XML document the component writes parses again (the completion body is
// built this way and must be accepted).
#include <cstdint>
#include <memory>
#include <string>

#include "FuzzInput.h"
#include "proto/Proto.h"

namespace {

using orca_fuzz::Broken;

constexpr char kSeparator[] = "\n--\n";

std::unique_ptr<proto::IProto> NewDocument(bool json) {
  if (json) {
    return std::make_unique<proto::CRapidJsonProto>();
  }
  return std::make_unique<proto::CXmlProto>();
}

void ExercisePath(proto::IProto& document, const std::string& path, int64_t number, bool& wrote) {
  document.get_v(path, "");
  const std::string text = "v" + std::to_string(number);
  if (document.set_v(path, text)) {
    wrote = true;
    if (document.get_v(path, "") != text) {
      Broken("a text written by set_v is not what get_v reads");
    }
  }
  if (document.set_v(path, number)) {
    wrote = true;
    if (document.get_v(path, "") != std::to_string(number)) {
      Broken("a number written by set_v is not what get_v reads");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orca_fuzz::FuzzInput input(data, size);
  const bool json = (input.Byte() & 1) != 0;
  const std::string rest = input.Rest();
  const size_t split = rest.find(kSeparator);
  const std::string text = rest.substr(0, split);

  const std::unique_ptr<proto::IProto> document = NewDocument(json);
  bool has_content = document->set_str(text);
  if (split != std::string::npos) {
    orca_fuzz::FuzzInput paths(reinterpret_cast<const uint8_t*>(rest.data()) + split + 4,
                               rest.size() - split - 4);
    for (int64_t i = 1; !paths.empty(); ++i) {
      ExercisePath(*document, paths.Line(), i % 2 == 0 ? i * 7919 : -i, has_content);
    }
  }
  const std::string compact = document->get_str(0);
  document->get_str(1);
  if (!json && has_content && !NewDocument(json)->set_str(compact)) {
    Broken("an XML document written by get_str does not parse again");
  }
  return 0;
}
