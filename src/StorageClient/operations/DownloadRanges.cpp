// CDownloadToFile: the ranged path. Over HTTPS an object of 10 MiB and more
// comes in 1 MiB ranges; each slice is written at its own offset by a writer
// thread while the next range is fetched.
#include <algorithm>

#include "base/StrFmt.h"
#include "operations/DownloadToFile.h"
#include "operations/SliceWriter.h"
#include "wire/Constants.h"
#include "wire/Logging.h"

namespace Orca {
namespace CloudStorage {
namespace {

using ull = unsigned long long;

}  // namespace

Status CDownloadToFile::DownloadRanges(const std::string& object_url, uint64_t size) {
  content_length_ = size;
  if (!OpenLocalFile(kDownloadObject)) {
    return Outcome(ErrorCode::kLocalFile);
  }
  // Each slice is written while the next range is fetched: one answer is
  // on its way in while the other goes to disk.
  Net::CHttpClientResponse answers[2];
  CSliceWriter writer(file_);
  uint64_t writing = 0;  // bytes of the slice being written
  for (uint64_t start = 0, i = 0; start < size; start += kRangeSize, ++i) {
    const uint64_t end = std::min<uint64_t>(start + kRangeSize, size);
    Net::CHttpClientResponse& answer = answers[i % 2];
    Status fetched = FetchRange(answer, object_url, start, end);
    Status written = FinishSliceWrite(writer, writing);  // a write failure prevails
    if (!written.ok() || !fetched.ok()) {
      return written.ok() ? fetched : written;
    }
    writing = end - start;
    writer.Post(start, answer.GetBody().data(), static_cast<uint32_t>(writing));
  }
  Status written = FinishSliceWrite(writer, writing);
  if (!written.ok()) {
    return written;
  }
  return FinishLocalFile(kDownloadObject) ? Status() : Outcome(ErrorCode::kLocalFile);
}

Status CDownloadToFile::FetchRange(Net::CHttpClientResponse& response,
                                   const std::string& object_url, uint64_t start, uint64_t end) {
  // The range text names `end` itself, so the answer may hold one byte more
  // than the slice [start, end): only the slice is written, and nothing past
  // that byte is read.
  const std::string range =
      Base::str_fmt("%llu-%llu", static_cast<ull>(start), static_cast<ull>(end));
  const uint64_t slice = end - start;
  Status fetched = proto_client_.FetchObject(
      response, range, object_url, RedirectCaller::kRangedDownload, kDownloadObject, {}, slice + 1);
  if (!fetched.ok()) {
    return fetched;
  }
  const size_t received = response.GetBody().size();
  if (response.BodyLimitExceeded()) {
    // A server that ignores the range sends more; its first bytes are not
    // this slice.
    const auto length = static_cast<ull>(response.GetContentLength());
    ORCA_CS_LOG_AS(
        veklog::kLevelError, kDownloadObject,
        "[%s][Client]send download object failed, url:%s, range[%s], body too long[%llu bytes "
        "for a slice of %llu][%s(%d)]",
        object_url.c_str(), range.c_str(), length, static_cast<ull>(slice));
    return Status(
        ErrorCode::kBadAnswer,
        Base::str_fmt("DownloadObject rsp range[%s] body too long[%llu bytes for a slice of %llu].",
                      range.c_str(), length, static_cast<ull>(slice)));
  }
  if (received >= slice) {
    return Status();
  }
  ORCA_CS_LOG_AS(veklog::kLevelError, kDownloadObject,
                 "[%s][Client]send download object failed, url:%s, range[%s], body short[%zu of "
                 "%llu bytes][%s(%d)]",
                 object_url.c_str(), range.c_str(), received, static_cast<ull>(slice));
  return Status(ErrorCode::kBadAnswer,
                Base::str_fmt("DownloadObject rsp body short[%zu of %llu bytes].", received,
                              static_cast<ull>(slice)));
}

Status CDownloadToFile::FinishSliceWrite(CSliceWriter& writer, uint64_t size) {
  if (!writer.Wait()) {
    OnWriteFailed(kDownloadObject);
    return Outcome(ErrorCode::kLocalFile);
  }
  written_size_ += size;
  ReportProgress();
  return Status();
}

}  // namespace CloudStorage
}  // namespace Orca
