#include <pugixml.hpp>
#include <string>
#include <utility>

#include "proto/DocPath.h"
#include "proto/Proto.h"

namespace proto {

namespace {

// Appends everything pugixml writes to a string.
class StringWriter : public pugi::xml_writer {
 public:
  void write(const void* data, size_t size) override {
    text_.append(static_cast<const char*>(data), size);
  }
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
};

bool IsNameStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}

bool IsNameChar(unsigned char c) {
  return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// A (lenient) XML name: non-ASCII bytes are taken as name characters.
bool IsXmlName(const std::string& name) {
  if (!IsNameStart(static_cast<unsigned char>(name[0]))) {
    return false;
  }
  for (const unsigned char c : name) {
    if (!IsNameChar(c)) {
      return false;
    }
  }
  return true;
}

// The index-th (from 1) child element of `parent` named `name`, or null.
pugi::xml_node NthChild(pugi::xml_node parent, const PathSegment& segment) {
  uint32_t left = segment.index;
  for (pugi::xml_node child = parent.child(segment.name.c_str()); child;
       child = child.next_sibling(segment.name.c_str())) {
    if (--left == 0) {
      return child;
    }
  }
  return {};
}

// Follows `path` from `node` as far as its elements exist: the last element
// reached and the number of segments followed.
std::pair<pugi::xml_node, size_t> Descend(pugi::xml_node node, const DocPath& path) {
  size_t depth = 0;
  for (; depth < path.size(); ++depth) {
    const pugi::xml_node child = NthChild(node, path[depth]);
    if (!child) {
      break;
    }
    node = child;
  }
  return {node, depth};
}

uint32_t CountChildren(pugi::xml_node parent, const std::string& name) {
  uint32_t count = 0;
  for (pugi::xml_node child = parent.child(name.c_str()); child;
       child = child.next_sibling(name.c_str())) {
    ++count;
  }
  return count;
}

// The element's own text: its text and CDATA children, in order.
std::string OwnText(pugi::xml_node element) {
  std::string text;
  for (pugi::xml_node child : element.children()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
      text += child.value();
    }
  }
  return text;
}

// Replaces the element's own text, all of it (what OwnText reads).
bool SetOwnText(pugi::xml_node element, const std::string& value) {
  for (pugi::xml_node child = element.first_child(); child;) {
    const pugi::xml_node next = child.next_sibling();
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
      element.remove_child(child);
    }
    child = next;
  }
  return element.append_child(pugi::node_pcdata).set_value(value.c_str());
}

bool HasOneRootElement(const pugi::xml_document& doc) {
  int elements = 0;
  for (pugi::xml_node child : doc.children()) {
    elements += child.type() == pugi::node_element ? 1 : 0;
  }
  return elements == 1;
}

}  // namespace

struct CXmlProto::Impl {
  pugi::xml_document doc;

  // The element at `path`, or null.
  pugi::xml_node Find(const std::string& path) const {
    const auto segments = ParsePath(path);
    if (!segments) {
      return {};
    }
    const auto [node, depth] = Descend(doc, *segments);
    return depth == segments->size() ? node : pugi::xml_node();
  }

  // The element at `path`, created with its missing ancestors; null (and
  // nothing created) when the path is malformed or cannot be created.
  pugi::xml_node FindOrCreate(const std::string& path) {
    const auto segments = ParsePath(path);
    if (!segments) {
      return {};
    }
    auto [node, depth] = Descend(doc, *segments);
    if (depth < segments->size() && !CanCreate(node, *segments, depth)) {
      return {};
    }
    for (; depth < segments->size(); ++depth) {
      node = node.append_child((*segments)[depth].name.c_str());
    }
    return node;
  }

  // Whether `path` from `depth` on can be appended under `parent`: the first
  // new element is the next sibling of its name, the document keeps a single
  // root, and every name is an XML name.
  bool CanCreate(pugi::xml_node parent, const DocPath& path, size_t depth) const {
    const PathSegment& first = path[depth];
    if (first.index != CountChildren(parent, first.name) + 1 ||
        !PicksFirstSiblings(path, depth + 1)) {
      return false;
    }
    if (parent == doc && doc.document_element()) {
      return false;
    }
    for (size_t i = depth; i < path.size(); ++i) {
      if (!IsXmlName(path[i].name)) {
        return false;
      }
    }
    return true;
  }
};

CXmlProto::CXmlProto() : impl_(std::make_unique<Impl>()) {}

CXmlProto::~CXmlProto() = default;

bool CXmlProto::set_str(const std::string& text) {
  impl_->doc.reset();
  if (!IsParsableText(text)) {
    return false;
  }
  const pugi::xml_parse_result result =
      impl_->doc.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8);
  if (!result || !HasOneRootElement(impl_->doc)) {
    impl_->doc.reset();
    return false;
  }
  return true;
}

std::string CXmlProto::get_v(const std::string& path, const std::string& def) const {
  const pugi::xml_node node = impl_->Find(path);
  return node ? OwnText(node) : def;
}

bool CXmlProto::set_v(const std::string& path, int64_t value) {
  return set_v(path, std::to_string(value));
}

bool CXmlProto::set_v(const std::string& path, const std::string& value) {
  if (value.find('\0') != std::string::npos) {
    return false;
  }
  const pugi::xml_node node = impl_->FindOrCreate(path);
  return node && SetOwnText(node, value);
}

std::string CXmlProto::get_str(int flags) const {
  const unsigned int layout = flags == 0 ? pugi::format_raw : pugi::format_indent;
  StringWriter writer;
  impl_->doc.save(writer, "  ", layout | pugi::format_no_declaration, pugi::encoding_utf8);
  return writer.Take();
}

}  // namespace proto
