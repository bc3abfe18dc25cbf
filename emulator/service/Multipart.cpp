#include "emulator/service/Multipart.h"

#include <charconv>
#include <pugixml.hpp>

namespace ocs {
namespace {

constexpr uint32_t kMaxPartNumber = 10000;

// A plain decimal number: digits only, no leading zero (except "0").
std::optional<uint64_t> ParseDecimal(const std::string& text) {
  uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  if (text.empty() || result.ec != std::errc() || result.ptr != end ||
      (text.size() > 1 && text[0] == '0')) {
    return std::nullopt;
  }
  return value;
}

std::optional<uint64_t> ChildNumber(const pugi::xml_node& node, const char* name) {
  const pugi::xml_node child = node.child(name);
  if (!child) {
    return std::nullopt;
  }
  return ParseDecimal(child.text().get());
}

ApiError InvalidPart(std::string message) { return BadRequest("InvalidPart", std::move(message)); }

}  // namespace

std::optional<uint32_t> ParsePartNumber(const std::string& text) {
  const auto value = ParseDecimal(text);
  if (!value || *value < 1 || *value > kMaxPartNumber) {
    return std::nullopt;
  }
  return static_cast<uint32_t>(*value);
}

std::optional<std::vector<CompletionPart>> ParseCompletion(const std::string& xml,
                                                           std::string* why) {
  pugi::xml_document doc;
  if (!doc.load_buffer(xml.data(), xml.size())) {
    *why = "the body is not well-formed XML";
    return std::nullopt;
  }
  const pugi::xml_node root = doc.child("CompleteMultipartUpload");
  const auto total = root ? ChildNumber(root, "TotalPartNum") : std::nullopt;
  if (!total) {
    *why = "no CompleteMultipartUpload/TotalPartNum";
    return std::nullopt;
  }
  std::vector<CompletionPart> parts;
  for (const pugi::xml_node part : root.children("Part")) {
    const auto number = ChildNumber(part, "PartNumber");
    const auto size = ChildNumber(part, "PartSize");
    if (!number || *number < 1 || *number > kMaxPartNumber || !size || !part.child("ETag")) {
      *why = "Part " + std::to_string(parts.size() + 1) +
             " needs PartNumber (1 to 10000), PartSize and ETag";
      return std::nullopt;
    }
    parts.push_back(CompletionPart{static_cast<uint32_t>(*number), *size});
  }
  if (parts.empty() || *total != parts.size()) {
    *why = "TotalPartNum is " + std::to_string(*total) + " but the document lists " +
           std::to_string(parts.size()) + " Part elements";
    return std::nullopt;
  }
  return parts;
}

std::optional<ApiError> CheckCompletion(const std::string& xml, const UploadInfo& upload,
                                        std::vector<uint32_t>* numbers) {
  std::string why;
  const auto parts = ParseCompletion(xml, &why);
  if (!parts) {
    return BadRequest("MalformedXML", "The completion document is not valid: " + why + ".");
  }
  numbers->clear();
  for (const CompletionPart& part : *parts) {
    if (!numbers->empty() && part.number <= numbers->back()) {
      return BadRequest("InvalidPartOrder", "Part numbers must ascend; " +
                                                std::to_string(part.number) + " follows " +
                                                std::to_string(numbers->back()) + ".");
    }
    const auto stored = upload.parts.find(part.number);
    if (stored == upload.parts.end()) {
      return InvalidPart("Part " + std::to_string(part.number) + " was not uploaded.");
    }
    if (stored->second != part.size) {
      return InvalidPart("Part " + std::to_string(part.number) + " holds " +
                         std::to_string(stored->second) + " bytes, the document says " +
                         std::to_string(part.size) + ".");
    }
    numbers->push_back(part.number);
  }
  return std::nullopt;
}

}  // namespace ocs
