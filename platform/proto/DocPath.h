// Shared pieces of the document classes: the path parser and the input
// guard.
#ifndef ORCA_PLATFORM_PROTO_DOCPATH_H_
#define ORCA_PLATFORM_PROTO_DOCPATH_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace proto {

// One step of a path: a name and the 1-based index of the sibling it picks.
struct PathSegment {
  std::string name;
  uint32_t index = 1;
  bool indexed = false;  // the index was written out ("name[n]")
};

using DocPath = std::vector<PathSegment>;

// Longest path accepted, in segments; keeps documents built by set_v shallow.
inline constexpr size_t kMaxPathSegments = 64;

// Splits "/a/b[2]/c" into its segments. Empty for a malformed path: not
// starting with "/", an empty segment or name, an index that is not a
// positive decimal number, text after "]", a NUL byte, or too many segments.
std::optional<DocPath> ParsePath(std::string_view path);

// True when every segment from `first` on picks the first sibling, i.e. the
// segments can all be created under a new, empty parent.
bool PicksFirstSiblings(const DocPath& path, size_t first);

// True when `text` may be handed to a parser: not over kMaxDocumentBytes
// and without NUL bytes (which both parsers would take for the end).
bool IsParsableText(std::string_view text);

}  // namespace proto

#endif  // ORCA_PLATFORM_PROTO_DOCPATH_H_
