#include "emulator/service/Serving.h"

#include <unistd.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "emulator/service/Ranges.h"

namespace ocs {
namespace {

constexpr size_t kChunk = 1 << 20;
constexpr char kDataType[] = "application/octet-stream";

bool ReadFully(int fd, uint64_t offset, char* out, size_t n) {
  while (n > 0) {
    const ssize_t got = ::pread(fd, out, n, static_cast<off_t>(offset));
    if (got <= 0) {
      return false;
    }
    out += got;
    offset += static_cast<uint64_t>(got);
    n -= static_cast<size_t>(got);
  }
  return true;
}

}  // namespace

DataSource FileSource(const StoredFile& file) {
  return DataSource{file.size, [fd = file.fd](uint64_t offset, char* out, size_t n) {
                      return ReadFully(*fd, offset, out, n);
                    }};
}

DataSource PatternSource(const GeneratedObject& object) {
  return DataSource{object.size, [seed = object.seed](uint64_t offset, char* out, size_t n) {
                      FillPattern(seed, offset, out, n);
                      return true;
                    }};
}

void ServeData(Exchange& ex, const DataSource& source) {
  ByteRange range{0, source.size - 1};
  std::string why;
  const RangeOutcome outcome =
      ResolveRange(ex.ignore_range ? "" : ex.header("Range"), source.size, &range, &why);
  if (outcome == RangeOutcome::kInvalid) {
    AnswerError(ex, MakeError(416, "InvalidRange", "The Range cannot be served: " + why + "."));
    return;
  }
  ex.res.status = 200;
  if (source.size == 0) {
    ex.res.set_content("", kDataType);
    return;
  }
  const uint64_t first = range.first;
  const auto buffer = std::make_shared<std::vector<char>>(
      static_cast<size_t>(std::min<uint64_t>(range.length(), kChunk)));
  ex.res.set_content_provider(
      range.length(), kDataType,
      [source, first, buffer](size_t offset, size_t length, httplib::DataSink& sink) {
        const size_t n = std::min(length, buffer->size());
        return source.read(first + offset, buffer->data(), n) && sink.write(buffer->data(), n);
      });
}

bool MaybeRedirect(Exchange& ex, Context& ctx) {
  const int status = ctx.redirects.Next();
  if (status == 0) {
    return false;
  }
  const std::string location = ctx.NextNodeLocation();
  ex.res.status = status;
  ex.res.set_header("Location", ctx.scheme + "://" + location + ex.target());
  return true;
}

}  // namespace ocs
