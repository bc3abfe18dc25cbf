#include "emulator/service/Errors.h"

#include <pugixml.hpp>
#include <sstream>

namespace ocs {
namespace {

std::string Serialise(const pugi::xml_document& doc) {
  std::ostringstream out;
  doc.save(out, "", pugi::format_raw);
  return out.str();
}

// XML 1.0 has no room for most control characters; they show as '?'.
std::string XmlSafe(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t' && c != '\r') {
      c = '?';
    }
  }
  return text;
}

void AddChildren(pugi::xml_node node,
                 const std::vector<std::pair<std::string, std::string>>& children) {
  for (const auto& [name, value] : children) {
    node.append_child(name.c_str()).text().set(XmlSafe(value).c_str());
  }
}

}  // namespace

ApiError MakeError(int status, std::string code, std::string message) {
  return ApiError{status, std::move(code), std::move(message), {}};
}

ApiError BadRequest(std::string code, std::string message) {
  return MakeError(400, std::move(code), std::move(message));
}

ApiError AccessDenied(std::string message) {
  return MakeError(403, "AccessDenied", std::move(message));
}

ApiError NoSuchBucket(const std::string& pool) {
  return MakeError(404, "NoSuchBucket", "The pool " + pool + " does not exist.");
}

ApiError NoSuchKey(const std::string& key) {
  return MakeError(404, "NoSuchKey", "The object " + key + " does not exist.");
}

ApiError NotEnoughSpace(const std::string& pool) {
  return MakeError(500, "NotEnoughSpace", "The pool " + pool + " has no room for this upload.");
}

std::string ErrorXml(const ApiError& error, const std::string& resource,
                     const std::string& request_id) {
  pugi::xml_document doc;
  auto decl = doc.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "UTF-8";
  auto root = doc.append_child("Error");
  AddChildren(root, {{"Code", error.code},
                     {"Message", error.message},
                     {"Resource", resource},
                     {"RequestId", request_id}});
  AddChildren(root, error.details);
  return Serialise(doc);
}

std::string XmlDocument(const std::string& root,
                        const std::vector<std::pair<std::string, std::string>>& children) {
  pugi::xml_document doc;
  auto decl = doc.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "UTF-8";
  AddChildren(doc.append_child(root.c_str()), children);
  return Serialise(doc);
}

}  // namespace ocs
