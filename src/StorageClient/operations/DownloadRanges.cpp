// CDownloadToFile: the ranged path. Over HTTPS an object of 10 MiB and more
// comes in 1 MiB ranges, up to the transfer concurrency of them in flight on
// as many threads (the caller's among them); each slice is written at its own
// offset as soon as it arrives.
#include <algorithm>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <new>

#include "base/StrFmt.h"
#include "base/ThreadPool.h"
#include "operations/DownloadToFile.h"
#include "protocol/Status.h"
#include "wire/Constants.h"
#include "wire/Logging.h"

namespace Orca {
namespace CloudStorage {
namespace {

using ull = unsigned long long;

}  // namespace

// The ranges of one download, handed out in order. Once a range has failed
// no further range is handed out; the failure kept is that of the lowest
// failed range, the one a download of one range after another would meet.
struct CDownloadToFile::SRangeRun {
  SRangeRun(const std::string& url, uint64_t object_size)
      : object_url(url),
        size(object_size),
        count(object_size / kRangeSize + (object_size % kRangeSize != 0 ? 1 : 0)) {}

  // The next range to fetch; false when none is left or one has failed.
  bool Claim(uint64_t& index) {
    std::lock_guard<std::mutex> lock(mutex);
    if (failed_index != kNone || next == count) {
      return false;
    }
    index = next++;
    return true;
  }
  void Fail(uint64_t index, Status status) {
    if (index < failed_index) {
      failed_index = index;
      failure = std::move(status);
    }
  }

  static constexpr uint64_t kNone = std::numeric_limits<uint64_t>::max();
  const std::string& object_url;
  const uint64_t size;
  const uint64_t count;
  std::mutex mutex;  // guards the fields below, the file's writes and progress
  uint64_t next = 0;
  uint64_t failed_index = kNone;
  Status failure;
};

class CDownloadToFile::CRangeWorker : public Base::CTask {
 public:
  CRangeWorker(CDownloadToFile& download, SRangeRun& run) : download_(download), run_(run) {}
  bool Run() override {
    download_.FetchRanges(run_);
    return true;
  }

 private:
  CDownloadToFile& download_;
  SRangeRun& run_;
};

Status CDownloadToFile::DownloadRanges(const std::string& object_url, uint64_t size) {
  content_length_ = size;
  if (!OpenLocalFile(kDownloadObject)) {
    return Outcome(ErrorCode::kLocalFile);
  }
  SRangeRun run(object_url, size);
  const auto concurrency = static_cast<int>(
      std::min<uint64_t>(conf_->transfer_concurrency.load(std::memory_order_relaxed), run.count));
  // The caller's thread is one of the workers; without helpers it fetches
  // every range itself.
  Base::CMessageLoopDyThreadPool helpers;
  if (concurrency > 1 && helpers.Start(concurrency - 1, concurrency - 1, 0)) {
    for (int i = 1; i < concurrency; ++i) {
      helpers.PostTask(new CRangeWorker(*this, run));
    }
  }
  FetchRanges(run);
  helpers.Stop(true);
  if (proto_client_.call().Cancelled()) {
    return Status::Cancelled();
  }
  if (run.failed_index != SRangeRun::kNone) {
    return run.failure;
  }
  return FinishLocalFile(kDownloadObject) ? Status() : Outcome(ErrorCode::kLocalFile);
}

void CDownloadToFile::FetchRanges(SRangeRun& run) {
  // Every range of this worker is received into the same room.
  std::unique_ptr<char[]> room(new (std::nothrow) char[kRangeSize + 1]);
  uint64_t index = 0;
  while (!proto_client_.call().Cancelled() && run.Claim(index)) {
    const uint64_t start = index * kRangeSize;
    const uint64_t end = std::min<uint64_t>(start + kRangeSize, run.size);
    Status status = FetchAndWriteRange(run, start, end, room.get());
    if (!status.ok()) {
      std::lock_guard<std::mutex> lock(run.mutex);
      run.Fail(index, std::move(status));
    }
  }
}

Status CDownloadToFile::FetchAndWriteRange(SRangeRun& run, uint64_t start, uint64_t end,
                                           char* room) {
  // A failure here must fail the range: the download must not report a hole
  // as success.
  try {
    Net::CHttpClientResponse answer;
    const char* slice = nullptr;
    Status fetched = FetchRange(answer, run.object_url, start, end, room, slice);
    if (!fetched.ok()) {
      return fetched;
    }
    std::lock_guard<std::mutex> lock(run.mutex);
    return WriteSlice(start, slice, end - start);
  } catch (const std::bad_alloc& e) {
    return OnRangeException(ErrorCode::kLocalFile, start, e.what());
  } catch (const std::exception& e) {
    return OnRangeException(ErrorCode::kBadAnswer, start, e.what());
  }
}

Status CDownloadToFile::OnRangeException(ErrorCode code, uint64_t start, const char* what) const {
  ORCA_CS_LOG_AS(veklog::kLevelError, kDownloadObject,
                 "[%s][Client]download range at[%llu] of file[%s] failed, exception[%s][%s(%d)]",
                 static_cast<ull>(start), local_path_.c_str(), what);
  return Status(code, Base::str_fmt("DownloadObject range at[%llu] failed, exception[%s].",
                                    static_cast<ull>(start), what));
}

Status CDownloadToFile::FetchRange(Net::CHttpClientResponse& response,
                                   const std::string& object_url, uint64_t start, uint64_t end,
                                   char* room, const char*& slice_data) {
  // The range text names `end` itself, so the answer may hold one byte more
  // than the slice [start, end): only the slice is written, and nothing past
  // that byte is read.
  const std::string range =
      Base::str_fmt("%llu-%llu", static_cast<ull>(start), static_cast<ull>(end));
  const uint64_t slice = end - start;
  // The final 200 answer goes into `room` (when there is one) if it
  // announced its length; any other stays in the response. Decided by the
  // answer itself: a retried request may be answered otherwise than a try
  // before it.
  Status fetched = proto_client_.FetchObject(
      response, range, object_url, RedirectCaller::kRangedDownload, kDownloadObject,
      [room](uint64_t) { return room; }, slice + 1);
  if (!fetched.ok()) {
    return fetched;
  }
  const bool in_room = room != nullptr && response.HasContentLength();
  slice_data = in_room ? room : response.GetBody().data();
  const uint64_t received = in_room ? response.GetReceivedLength() : response.GetBody().size();
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
                 "[%s][Client]send download object failed, url:%s, range[%s], body short[%llu of "
                 "%llu bytes][%s(%d)]",
                 object_url.c_str(), range.c_str(), static_cast<ull>(received),
                 static_cast<ull>(slice));
  return Status(ErrorCode::kBadAnswer,
                Base::str_fmt("DownloadObject rsp body short[%llu of %llu bytes].",
                              static_cast<ull>(received), static_cast<ull>(slice)));
}

Status CDownloadToFile::WriteSlice(uint64_t offset, const char* data, uint64_t size) {
  uint32_t done = 0;
  if (!file_.WriteAt(offset, data, static_cast<uint32_t>(size), done)) {
    // The file stays open for the ranges still in flight; it is closed when
    // the download ends.
    local_failure_ = kWriteFailed;
    ORCA_CS_LOG_AS(veklog::kLevelError, kDownloadObject,
                   "[%s][Client]recv file, write failed:%s, error:%d[%s(%d)]", local_path_.c_str(),
                   file_.LastError());
    return Outcome(ErrorCode::kLocalFile);
  }
  written_size_ += size;
  ReportProgress();
  return Status();
}

}  // namespace CloudStorage
}  // namespace Orca
