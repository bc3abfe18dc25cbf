#include <rapidjson/document.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>
#include <system_error>
#include <utility>

#include "proto/DocPath.h"
#include "proto/Proto.h"

namespace proto {

namespace {

using rapidjson::Document;
using rapidjson::SizeType;
using rapidjson::Value;

// Iterative, so that deep nesting costs heap (bounded by the depth limit)
// rather than stack; strict UTF-8. Numbers reach the handler as text and are
// converted there: RapidJSON 1.1's own exact conversion is undefined for a
// zero significand with a large exponent ("0E77").
constexpr unsigned kParseFlags = rapidjson::kParseIterativeFlag |
                                 rapidjson::kParseValidateEncodingFlag |
                                 rapidjson::kParseNumbersAsStringsFlag;

// Forwards parser events to a document, refusing nesting deeper than
// kMaxJsonDepth (the writer and the document's copy are recursive).
class DepthLimitedHandler {
 public:
  explicit DepthLimitedHandler(Document& doc) : doc_(doc) {}

  bool Null() { return doc_.Null(); }
  bool Bool(bool b) { return doc_.Bool(b); }
  bool Int(int i) { return doc_.Int(i); }
  bool Uint(unsigned u) { return doc_.Uint(u); }
  bool Int64(int64_t i) { return doc_.Int64(i); }
  bool Uint64(uint64_t u) { return doc_.Uint64(u); }
  bool Double(double d) { return doc_.Double(d); }
  bool RawNumber(const char* str, SizeType length, bool /*copy*/) {
    return Number(std::string(str, length));
  }
  bool String(const char* str, SizeType length, bool copy) {
    return doc_.String(str, length, copy);
  }
  bool Key(const char* str, SizeType length, bool copy) { return doc_.Key(str, length, copy); }
  bool StartObject() { return Enter() && doc_.StartObject(); }
  bool EndObject(SizeType members) { return Leave() && doc_.EndObject(members); }
  bool StartArray() { return Enter() && doc_.StartArray(); }
  bool EndArray(SizeType elements) { return Leave() && doc_.EndArray(elements); }

 private:
  // A number stored as RapidJSON stores it: an integer when it has neither
  // fraction nor exponent and fits 64 bits, else the double nearest to it
  // (strtod rounds exactly); false for one beyond the range of a double.
  bool Number(const std::string& text) {
    if (text.find_first_of(".eE") == std::string::npos) {
      const char* end = text.data() + text.size();
      int64_t negative = 0;
      uint64_t positive = 0;
      if (text[0] == '-' && std::from_chars(text.data(), end, negative).ec == std::errc()) {
        return doc_.Int64(negative);
      }
      if (text[0] != '-' && std::from_chars(text.data(), end, positive).ec == std::errc()) {
        return doc_.Uint64(positive);
      }
    }
    const double value = std::strtod(text.c_str(), nullptr);
    return !std::isinf(value) && doc_.Double(value);
  }

  bool Enter() { return ++depth_ <= kMaxJsonDepth; }
  bool Leave() {
    --depth_;
    return true;
  }

  Document& doc_;
  int depth_ = 0;
};

// Parses `text` into `doc`; true when it holds one object.
bool ParseObject(const std::string& text, Document& doc) {
  bool parsed = false;
  auto generate = [&text, &parsed](Document& target) {
    rapidjson::Reader reader;
    // Bounded by the text's size: the UTF-8 check of a sequence cut short by
    // the end would read past the terminating zero of a plain string stream.
    rapidjson::MemoryStream stream(text.data(), text.size());
    DepthLimitedHandler handler(target);
    parsed = !reader.Parse<kParseFlags>(stream, handler).IsError();
    return parsed;
  };
  doc.Populate(generate);
  return parsed && doc.IsObject();
}

// The child that `segment` picks in `parent`, or null. Works on const and
// mutable values alike.
template <typename V>
V* Child(V& parent, const PathSegment& segment) {
  if (!parent.IsObject()) {
    return nullptr;
  }
  const auto member = parent.FindMember(segment.name.c_str());
  if (member == parent.MemberEnd()) {
    return nullptr;
  }
  if (!segment.indexed) {
    return &member->value;
  }
  V& list = member->value;
  if (!list.IsArray() || segment.index > list.Size()) {
    return nullptr;
  }
  return &list[segment.index - 1];
}

// Follows `path` from `root` as far as it exists: the last value reached and
// the number of segments followed.
template <typename V>
std::pair<V*, size_t> Descend(V& root, const DocPath& path) {
  V* node = &root;
  size_t depth = 0;
  for (; depth < path.size(); ++depth) {
    V* child = Child(*node, path[depth]);
    if (child == nullptr) {
      break;
    }
    node = child;
  }
  return {node, depth};
}

// Whether `path` from `depth` on can be created under `parent`: a new member,
// or the next element of an existing array member, followed by new members
// only.
bool CanCreate(const Value& parent, const DocPath& path, size_t depth) {
  if (!parent.IsObject() || !PicksFirstSiblings(path, depth + 1)) {
    return false;
  }
  const PathSegment& segment = path[depth];
  const auto member = parent.FindMember(segment.name.c_str());
  if (member == parent.MemberEnd()) {
    return segment.index == 1;
  }
  const Value& list = member->value;
  return segment.indexed && list.IsArray() && segment.index == list.Size() + 1;
}

// Adds the member (or array element) that `segment` names to `parent`, as an
// empty object, and returns it.
Value& Create(Value& parent, const PathSegment& segment, Document::AllocatorType& allocator) {
  auto member = parent.FindMember(segment.name.c_str());
  if (member == parent.MemberEnd()) {
    Value name(segment.name.c_str(), static_cast<SizeType>(segment.name.size()), allocator);
    Value fresh(segment.indexed ? rapidjson::kArrayType : rapidjson::kObjectType);
    parent.AddMember(name, fresh, allocator);
    member = parent.MemberEnd() - 1;
  }
  if (!segment.indexed) {
    return member->value;
  }
  Value& list = member->value;
  list.PushBack(Value(rapidjson::kObjectType), allocator);
  return list[list.Size() - 1];
}

template <typename Writer>
std::string Serialize(const Value& value) {
  rapidjson::StringBuffer buffer;
  Writer writer(buffer);
  value.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

std::string ScalarText(const Value& value, const std::string& def) {
  if (value.IsString()) {
    return std::string(value.GetString(), value.GetStringLength());
  }
  if (value.IsNumber()) {
    return Serialize<rapidjson::Writer<rapidjson::StringBuffer>>(value);
  }
  if (value.IsBool()) {
    return value.GetBool() ? "true" : "false";
  }
  return def;
}

}  // namespace

struct CRapidJsonProto::Impl {
  Document doc{rapidjson::kObjectType};

  // Stores `value` at `path`, creating what is missing; false (and nothing
  // changed) when the path is malformed or cannot be created.
  bool Assign(const std::string& path, Value& value) {
    const auto segments = ParsePath(path);
    if (!segments) {
      return false;
    }
    auto [node, depth] = Descend<Value>(doc, *segments);
    if (depth < segments->size() && !CanCreate(*node, *segments, depth)) {
      return false;
    }
    for (; depth < segments->size(); ++depth) {
      node = &Create(*node, (*segments)[depth], doc.GetAllocator());
    }
    *node = value;
    return true;
  }
};

CRapidJsonProto::CRapidJsonProto() : impl_(std::make_unique<Impl>()) {}

CRapidJsonProto::~CRapidJsonProto() = default;

bool CRapidJsonProto::set_str(const std::string& text) {
  // A new document each time, so that no memory of the old one lingers in
  // the allocator.
  Document parsed;
  const bool ok = IsParsableText(text) && ParseObject(text, parsed);
  if (!ok) {
    Document empty(rapidjson::kObjectType);
    parsed.Swap(empty);
  }
  impl_->doc.Swap(parsed);
  return ok;
}

std::string CRapidJsonProto::get_v(const std::string& path, const std::string& def) const {
  const auto segments = ParsePath(path);
  if (!segments) {
    return def;
  }
  const auto [node, depth] = Descend<const Value>(impl_->doc, *segments);
  return depth == segments->size() ? ScalarText(*node, def) : def;
}

bool CRapidJsonProto::set_v(const std::string& path, int64_t value) {
  Value number(value);
  return impl_->Assign(path, number);
}

bool CRapidJsonProto::set_v(const std::string& path, const std::string& value) {
  Value text(value.c_str(), static_cast<SizeType>(value.size()), impl_->doc.GetAllocator());
  return impl_->Assign(path, text);
}

std::string CRapidJsonProto::get_str(int flags) const {
  if (flags == 0) {
    return Serialize<rapidjson::Writer<rapidjson::StringBuffer>>(impl_->doc);
  }
  return Serialize<rapidjson::PrettyWriter<rapidjson::StringBuffer>>(impl_->doc);
}

}  // namespace proto
