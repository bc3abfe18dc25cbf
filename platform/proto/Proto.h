// Document component: XML (pugixml) and JSON (RapidJSON) documents read and
// written by path.
//
// Paths are absolute: "/Root/Child/Leaf" for XML (the first segment names
// the root element), "/member/member" for JSON (from the top-level object).
// A segment may end in "[n]", n counted from 1, to pick the n-th sibling of
// that name; writing to "[n]" where only n-1 exist appends a new sibling.
#ifndef ORCA_PLATFORM_PROTO_PROTO_H_
#define ORCA_PLATFORM_PROTO_PROTO_H_

#include <cstdint>
#include <memory>
#include <string>

namespace proto {

class IProto {
 public:
  virtual ~IProto() = default;
  // Parses `text`, replacing the document. False for malformed input.
  virtual bool set_str(const std::string& text) = 0;
  // The text at `path`, or `def` when there is none. Numbers read as their
  // decimal text.
  virtual std::string get_v(const std::string& path, const std::string& def) const = 0;
  // Creates the element at `path` (and any missing ancestors, in order) and
  // sets its value. False for a malformed path.
  virtual bool set_v(const std::string& path, int64_t value) = 0;
  virtual bool set_v(const std::string& path, const std::string& value) = 0;
  // The document as text; `flags` 0 gives the compact form.
  virtual std::string get_str(int flags) const = 0;
};

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
