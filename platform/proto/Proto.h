// Document component: XML (pugixml) and JSON (RapidJSON) documents read and
// written by path.
//
// Paths are absolute: "/Root/Child/Leaf" for XML (the first segment names
// the root element), "/member/member" for JSON (from the top-level object).
// A segment may end in "[n]", n counted from 1. In XML it picks the n-th
// child element of that name ("name" alone is "name[1]"); in JSON it picks
// the n-th element of the array member of that name ("name" alone is the
// member itself). Writing to "[n]" where n-1 siblings exist appends a new
// sibling at the end of the parent; a larger n is refused. Malformed paths
// (see DocPath.h) read as absent and are refused by set_v.
//
// A document belongs to one thread at a time.
#ifndef ORCA_PLATFORM_PROTO_PROTO_H_
#define ORCA_PLATFORM_PROTO_PROTO_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace proto {

// set_str refuses longer texts; the service's answers are a few hundred bytes.
inline constexpr size_t kMaxDocumentBytes = size_t{8} << 20;
// Deepest JSON nesting set_str accepts (arrays and objects).
inline constexpr int kMaxJsonDepth = 256;

class IProto {
 public:
  virtual ~IProto() = default;
  // Parses `text`, replacing the document. False for malformed input, for a
  // text over kMaxDocumentBytes or holding a NUL byte; the document is then
  // empty.
  virtual bool set_str(const std::string& text) = 0;
  // The text at `path`, or `def` when there is none.
  virtual std::string get_v(const std::string& path, const std::string& def) const = 0;
  // Creates the element at `path` (and any missing ancestors, in order) and
  // sets its value, the number in decimal. False, with the document
  // unchanged, for a malformed path or one that cannot be created.
  virtual bool set_v(const std::string& path, int64_t value) = 0;
  virtual bool set_v(const std::string& path, const std::string& value) = 0;
  // The document as text: compact for `flags` 0, indented otherwise.
  virtual std::string get_str(int flags) const = 0;
};

// XML. get_v gives the element's own text (its text and CDATA children,
// unescaped). Entities other than the five predefined ones and character
// references are never expanded, and DOCTYPE declarations are skipped, so
// nothing is fetched or multiplied. A document has exactly one root
// element. get_str writes no XML declaration; text is escaped. set_v refuses
// names that are not XML names and values holding a NUL byte.
class CXmlProto : public IProto {
 public:
  CXmlProto();
  ~CXmlProto() override;
  bool set_str(const std::string& text) override;
  std::string get_v(const std::string& path, const std::string& def) const override;
  bool set_v(const std::string& path, int64_t value) override;
  bool set_v(const std::string& path, const std::string& value) override;
  std::string get_str(int flags) const override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// JSON. The top-level value must be an object (a new document is "{}").
// get_v gives strings as they are, numbers as their decimal text ("8080",
// "-3", "1.5"), booleans as "true" or "false"; null, objects and arrays read
// as `def`. Of duplicate members the first one counts. set_str refuses
// invalid UTF-8 and nesting deeper than kMaxJsonDepth. set_v replaces an
// existing value, but refuses to go through a member that is not an object
// (or, with "[n]", not an array).
class CRapidJsonProto : public IProto {
 public:
  CRapidJsonProto();
  ~CRapidJsonProto() override;
  bool set_str(const std::string& text) override;
  std::string get_v(const std::string& path, const std::string& def) const override;
  bool set_v(const std::string& path, int64_t value) override;
  bool set_v(const std::string& path, const std::string& value) override;
  std::string get_str(int flags) const override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace proto

#endif  // ORCA_PLATFORM_PROTO_PROTO_H_
