#include "operations/DownloadToFile.h"

#include <algorithm>
#include <utility>

#include "base/Encoding.h"
#include "base/StrFmt.h"
#include "protocol/Redirect.h"
#include "protocol/RequestPipeline.h"
#include "wire/Constants.h"
#include "wire/HeaderValue.h"
#include "wire/Logging.h"

// Records of the helpers below name the protocol step they serve.
#define DOWNLOAD_TRACE(fmt, ...) \
  ORCA_CS_LOG_AS(::veklog::kLevelTrace, kDownloadObject, fmt, ##__VA_ARGS__)
#define DOWNLOAD_ERROR(fmt, ...) \
  ORCA_CS_LOG_AS(::veklog::kLevelError, kDownloadObject, fmt, ##__VA_ARGS__)

namespace Orca {
namespace CloudStorage {
namespace {

constexpr SDownloadTexts kDownloadTexts{kDownloadObject, "Client", "download object"};

using ull = unsigned long long;

}  // namespace

Status CDownloadToFile::Run(const std::string& object_url) {
  if (local_path_.empty()) {
    DOWNLOAD_ERROR("[%s][Client]send download object failed, url:%s,file part empty.[%s(%d)]",
                   object_url.c_str());
    return Status::NotRecorded();
  }
  const uint64_t size = conf_->config.use_https ? proto_client_.GetObjectSize(object_url) : 0;
  Status status = size >= kRangedDownloadThreshold ? DownloadRanges(object_url, size)
                                                   : DownloadStream(object_url);
  file_.Close();
  if (status.ok()) {
    ORCA_CS_LOG_AS(veklog::kLevelSuccess, kDownloadObject,
                   "[%s][Client]download object[%s] success[%s(%d)]", object_url.c_str());
  }
  return status;
}

Status CDownloadToFile::DownloadStream(const std::string& object_url) {
  const CCall& call = proto_client_.call();
  for (uint32_t attempt = 1;; ++attempt) {
    Status status =
        JudgeStream(Stream(proto_client_.download_base(), object_url, true), object_url);
    if (status.ok() || call.Cancelled()) {
      return status.ok() ? status : Status::Cancelled();
    }
    const std::string cause = StreamRetryCause();
    if (cause.empty() || !WaitToRetry(call, attempt, cause, kDownloadObject, "Client")) {
      return call.Cancelled() ? Status::Cancelled() : status;
    }
    PrepareResume();
  }
}

std::string CDownloadToFile::StreamRetryCause() const {
  if (local_failure_ != 0 || resume_mismatch_) {
    return std::string();
  }
  if (!streamed_) {
    return TransientCause(transport_error_, 0, std::string());
  }
  if (status_ == 200 && !StreamedBodyComplete()) {
    return "body short";
  }
  return TransientCause(transport_error_, status_, std::string());
}

void CDownloadToFile::PrepareResume() {
  // Only the bytes of a 200 answer were written; a try that failed before
  // them starts afresh.
  resume_from_ = written_size_;
  status_ = -1;
  transport_error_ = Net::HttpClient::Error();
  redirect_location_.clear();
}

Status CDownloadToFile::JudgeStream(bool streamed, const std::string& object_url) {
  if (!streamed) {
    DOWNLOAD_ERROR("[%s][Client]send download object failed, url:%s, error[%d,%d][%s(%d)]",
                   object_url.c_str(), transport_error_.major, transport_error_.minor);
    return Status(ErrorCode::kTransport,
                  Base::str_fmt("Send download big object msg failed[%d:%d].",
                                transport_error_.major, transport_error_.minor));
  }
  if (resume_mismatch_) {
    DOWNLOAD_ERROR(
        "[%s][Client]send download object failed, url:%s, resumed answer does not continue the "
        "object at[%llu][%s(%d)]",
        object_url.c_str(), static_cast<ull>(resume_from_));
    return Status(ErrorCode::kBadAnswer,
                  Base::str_fmt("DownloadBigObject resumed answer does not continue the object "
                                "at[%llu of %llu bytes].",
                                static_cast<ull>(resume_from_), static_cast<ull>(content_length_)));
  }
  if (local_failure_ == 0 && status_ == 200) {
    return AcceptStreamedBody(object_url);
  }
  if (local_failure_ == 0 && Redirects(RedirectCaller::kStreamedDownload, status_)) {
    return FollowStreamRedirect(object_url);
  }
  DOWNLOAD_ERROR("[%s][Client]send download object failed, url:%s, error[%d][%s(%d)]",
                 object_url.c_str(), StreamOutcome());
  // Negative values are local failures (or no answer at all); the rest are
  // HTTP statuses or a failure to open the file.
  return Outcome(StreamOutcome() < 0 ? ErrorCode::kLocalFile : ErrorCode::kBadAnswer);
}

Status CDownloadToFile::FollowStreamRedirect(const std::string& object_url) {
  std::string base;
  std::string target;
  Status usable = RedirectTarget(RedirectCaller::kStreamedDownload, redirect_location_,
                                 conf_->config.use_https, object_url, kDownloadTexts, base, target);
  if (!usable.ok()) {
    return usable;
  }
  status_ = -1;
  if (!Stream(base, target,
              RedirectPolicy(RedirectCaller::kStreamedDownload).configured_timeouts)) {
    DOWNLOAD_ERROR("[%s][Client]send download object failed, redirect url:%s[%s(%d)]",
                   redirect_location_.c_str());
    return Status(ErrorCode::kTransport, transport_error_.minor,
                  Base::str_fmt("Send download big object msg failed[%d:%d].",
                                transport_error_.major, transport_error_.minor));
  }
  if (StreamOutcome() != 200) {
    DOWNLOAD_ERROR(
        "[%s][Client]send download object failed, redirect url:%s, status code:%d[%s(%d)]",
        redirect_location_.c_str(), StreamOutcome());
    return Outcome(ErrorCode::kBadAnswer);
  }
  return AcceptStreamedBody(redirect_location_);
}

bool CDownloadToFile::Stream(const std::string& base, const std::string& object_url,
                             bool configured_timeouts) {
  Net::CHttpClientRequest request =
      proto_client_.StreamRequest(base, object_url, configured_timeouts, resume_from_);
  DOWNLOAD_TRACE("[%s][Client]send url[%s][%s(%d)]", request.GetURL().ToStdString(true).c_str());
  const bool sent = Net::HttpClient::SendForBigRsp(
      request, [this](const Net::CHttpClientResponse& response, const char* data, uint32_t size,
                      Net::HttpClient::Error error,
                      bool last) { Receive(response, data, size, error, last); });
  streamed_ = sent && transport_error_.minor == 0;
  return streamed_;
}

Status CDownloadToFile::AcceptStreamedBody(const std::string& url) {
  if (StreamedBodyComplete()) {
    return Status();
  }
  DOWNLOAD_ERROR(
      "[%s][Client]send download object failed, url:%s, body short[%llu of %llu "
      "bytes][%s(%d)]",
      url.c_str(), static_cast<ull>(written_size_), static_cast<ull>(content_length_));
  return Status(ErrorCode::kBadAnswer,
                Base::str_fmt("DownloadBigObject rsp body short[%llu of %llu bytes].",
                              static_cast<ull>(written_size_), static_cast<ull>(content_length_)));
}

bool CDownloadToFile::StreamedBodyComplete() const {
  // A length of 0 is either an empty object or an answer without a length
  // (chunked), whose end the transport vouches for.
  return content_length_ == 0 || written_size_ >= content_length_;
}

void CDownloadToFile::Receive(const Net::CHttpClientResponse& response, const char* data,
                              uint32_t size, Net::HttpClient::Error error, bool last) {
  const bool first_piece = status_ == -1;
  if (first_piece) {
    OnFirstPiece(response);
  }
  if (error.minor != 0) {
    transport_error_ = error;
  } else if (Redirects(RedirectCaller::kStreamedDownload, status_)) {
    response.GetHeaderField(redirect_location_, "Location");
  } else if (status_ == 200 && local_failure_ == 0 && data != nullptr) {
    WritePiece(first_piece, data, size);
  }
  if (last) {
    if (status_ == 200 && local_failure_ == 0 && transport_error_.minor == 0 &&
        StreamedBodyComplete()) {
      FinishLocalFile(kRecvMsgCallback);
    }
    file_.Close();
  }
}

void CDownloadToFile::OnFirstPiece(const Net::CHttpClientResponse& response) {
  status_ = response.GetStatusCode();
  std::string length;
  response.GetHeaderField(length, "Content-Length");
  if (resume_from_ == 0) {
    content_length_ = LeadingDecimal(length);
    return;
  }
  if (status_ != 200 && status_ != 206) {
    return;  // judged as any other answer
  }
  // The rest of the object: exactly the bytes from resume_from_ to its end.
  std::string range;
  response.GetHeaderField(range, "Content-Range");
  const bool continues =
      LeadingDecimal(length) == content_length_ - resume_from_ &&
      (status_ == 200 ||
       range == Base::str_fmt("bytes %llu-%llu/%llu", static_cast<ull>(resume_from_),
                              static_cast<ull>(content_length_ - 1),
                              static_cast<ull>(content_length_)));
  resume_mismatch_ = !continues;
  status_ = 200;
}

void CDownloadToFile::WritePiece(bool first_piece, const char* data, uint32_t size) {
  if (resume_mismatch_) {
    return;
  }
  if (first_piece && !file_.IsOpen() && !OpenLocalFile(kRecvMsgCallback)) {
    return;
  }
  if (!file_.IsOpen()) {
    local_failure_ = kNoOpenFile;
    ORCA_CS_LOG_AS(veklog::kLevelError, kRecvMsgCallback,
                   "[%s][Client]recv file, open file failed:%s[%s(%d)]", local_path_.c_str());
    return;
  }
  WriteLocalFile(written_size_, data, size, kRecvMsgCallback);
}

bool CDownloadToFile::OpenLocalFile(const char* function) {
  if (file_.Open(local_path_, File::Access::kReadWrite, File::Disposition::kOpenAlways)) {
    return true;
  }
  local_failure_ = kOpenFailedBase + file_.LastError();
  ORCA_CS_LOG_AS(veklog::kLevelError, function,
                 "[%s][Client]recv file, open file failed:%s,%s, error[%d][%s(%d)]",
                 Base::UTF8ToLocal(local_path_).c_str(), local_path_.c_str(), file_.LastError());
  return false;
}

bool CDownloadToFile::WriteLocalFile(uint64_t offset, const char* data, uint32_t size,
                                     const char* function) {
  uint32_t done = 0;
  if (!file_.WriteAt(offset, data, size, done)) {
    OnWriteFailed(function);
    return false;
  }
  written_size_ += size;
  ReportProgress();
  return true;
}

bool CDownloadToFile::FinishLocalFile(const char* function) {
  if (!file_.IsOpen() && !OpenLocalFile(function)) {
    return false;
  }
  if (!file_.Truncate(written_size_)) {
    OnWriteFailed(function);
    return false;
  }
  return true;
}

void CDownloadToFile::OnWriteFailed(const char* function) {
  const int system_error = file_.LastError();
  file_.Close();
  local_failure_ = kWriteFailed;
  ORCA_CS_LOG_AS(veklog::kLevelError, function,
                 "[%s][Client]recv file, write failed:%s, error:%d[%s(%d)]", local_path_.c_str(),
                 system_error);
}

void CDownloadToFile::ReportProgress() {
  const SStorageServerConfig& config = conf_->config;
  if (!config.progress_callback || content_length_ == 0) {
    return;
  }
  const auto percent =
      static_cast<int32_t>(std::min<uint64_t>(written_size_ * 100 / content_length_, 100));
  if (percent <= last_percent_) {
    return;
  }
  last_percent_ = percent;
  SProgressInfo info;
  info.percent = percent;
  info.user_data = config.user_data;
  config.progress_callback(info);
}

Status CDownloadToFile::Outcome(ErrorCode code) const {
  return Status(code, StreamOutcome(),
                Base::str_fmt("DownloadBigObject rsp status code[%d].", StreamOutcome()));
}

}  // namespace CloudStorage
}  // namespace Orca
