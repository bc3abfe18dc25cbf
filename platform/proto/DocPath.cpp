#include "proto/DocPath.h"

#include <charconv>

#include "proto/Proto.h"

namespace proto {

namespace {

// Parses "name" or "name[n]".
std::optional<PathSegment> ParseSegment(std::string_view text) {
  PathSegment segment;
  const size_t open = text.find('[');
  segment.name = std::string(text.substr(0, open));
  if (segment.name.empty() || segment.name.find(']') != std::string::npos) {
    return std::nullopt;
  }
  if (open == std::string_view::npos) {
    return segment;
  }
  // The index runs from after "[" to a "]" that must end the segment.
  if (text.back() != ']') {
    return std::nullopt;
  }
  const std::string_view digits = text.substr(open + 1, text.size() - open - 2);
  if (digits.empty()) {
    return std::nullopt;
  }
  const char* end = digits.data() + digits.size();
  const auto [stop, error] = std::from_chars(digits.data(), end, segment.index);
  if (error != std::errc() || stop != end || segment.index == 0) {
    return std::nullopt;
  }
  segment.indexed = true;
  return segment;
}

}  // namespace

std::optional<DocPath> ParsePath(std::string_view path) {
  if (path.empty() || path.front() != '/' || path.find('\0') != std::string_view::npos) {
    return std::nullopt;
  }
  DocPath segments;
  size_t start = 1;
  while (true) {
    const size_t slash = path.find('/', start);
    auto segment = ParseSegment(path.substr(start, slash - start));
    if (!segment || segments.size() == kMaxPathSegments) {
      return std::nullopt;
    }
    segments.push_back(std::move(*segment));
    if (slash == std::string_view::npos) {
      return segments;
    }
    start = slash + 1;
  }
}

bool PicksFirstSiblings(const DocPath& path, size_t first) {
  for (size_t i = first; i < path.size(); ++i) {
    if (path[i].index != 1) {
      return false;
    }
  }
  return true;
}

bool IsParsableText(std::string_view text) {
  return text.size() <= kMaxDocumentBytes && text.find('\0') == std::string_view::npos;
}

}  // namespace proto
