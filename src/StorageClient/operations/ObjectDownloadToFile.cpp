// CObjectProtoClient: download of an object into a local file, streamed
// piece by piece or, over HTTPS for large objects, in 1 MiB ranges, each
// written by a writer thread while the next one is fetched.
//
// The file is opened for reading and writing, created when missing, and
// holds an exclusive advisory lock while it is open (the stand-in for a
// file opened without sharing). A successful download leaves exactly the
// object in the file; a failed one leaves whatever was written.
#include <algorithm>
#include <charconv>
#include <map>

#include "base/Encoding.h"
#include "base/StrFmt.h"
#include "operations/SliceWriter.h"
#include "protocol/ObjectProtoClient.h"
#include "protocol/Redirect.h"
#include "wire/Constants.h"
#include "wire/Logging.h"

// Records of the helpers below name the method they serve.
#define DOWNLOAD_TRACE(fmt, ...) \
  ORCA_CS_LOG_AS(::veklog::kLevelTrace, kDownloadObject, fmt, ##__VA_ARGS__)
#define DOWNLOAD_ERROR(fmt, ...) \
  ORCA_CS_LOG_AS(::veklog::kLevelError, kDownloadObject, fmt, ##__VA_ARGS__)

namespace Orca {
namespace CloudStorage {
namespace {

constexpr char kDownloadObject[] = "Orca::CloudStorage::CObjectProtoClient::DownloadObject";
constexpr char kRecvMsgCallback[] = "Orca::CloudStorage::CObjectProtoClient::RecvMsgCallback";
constexpr char kXmlContentType[] = "application/xml; charset=utf-8";

using ull = unsigned long long;

// The leading decimal digits of `text`: 0 when there are none, the largest
// value when they overflow.
uint64_t LeadingDecimal(const std::string& text) {
  uint64_t value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc::result_out_of_range ? UINT64_MAX : value;
}

}  // namespace

bool CObjectProtoClient::DownloadObject(const std::string& local_path,
                                        const std::string& object_url) {
  if (local_path.empty()) {
    LOG_ERROR("[%s][Client]send download object failed, url:%s,file part empty.[%s(%d)]",
              object_url.c_str());
    return false;
  }
  local_path_ = local_path;
  const uint64_t size = conf_->config.use_https ? GetObjectSize(object_url) : 0;
  const bool ok = size >= kRangedDownloadThreshold ? DownloadRanges(object_url, size)
                                                   : DownloadStream(object_url);
  file_handle_.Close();
  if (ok) {
    LOG_SUCCESS("[%s][Client]download object[%s] success[%s(%d)]", object_url.c_str());
  }
  return ok;
}

uint64_t CObjectProtoClient::GetObjectSize(const std::string& object_url) {
  SRequestFrame frame;
  frame.method = "GET";
  frame.resource = object_url + "?metadata";
  frame.url = download_base_ + frame.resource;
  frame.content_type = kXmlContentType;
  // Only the header fields matter; a body is kept only as far as a log
  // record would quote it.
  frame.max_response_body = kMaxQuotedBody;
  // A failure is logged, not recorded: the download goes on streamed.
  const SRequestTexts texts{kDownloadObject,
                            "Client",
                            "send get metadata failed",
                            "get metadata failed",
                            "get metadata failed",
                            "get metadata failed",
                            "metadata"};
  Net::CHttpClientResponse response;
  if (!Exchange(signer_, frame, texts, response).ok()) {
    return 0;
  }
  std::map<std::string, std::string> headers;
  response.GetAllHeaders(headers);
  const auto object_size = headers.find("Object-Size");
  if (object_size == headers.end()) {
    DOWNLOAD_ERROR("[%s][Client]get metadata failed, no Object-Size, url:%s[%s(%d)]",
                   object_url.c_str());
    return 0;
  }
  return LeadingDecimal(object_size->second);
}

bool CObjectProtoClient::DownloadRanges(const std::string& object_url, uint64_t size) {
  content_length_ = size;
  if (!OpenLocalFile(kDownloadObject)) {
    RecordRecvStatusError(3);
    return false;
  }
  // Each slice is written while the next range is fetched: one answer is
  // on its way in while the other goes to disk.
  Net::CHttpClientResponse answers[2];
  CSliceWriter writer(file_handle_);
  uint64_t writing = 0;  // bytes of the slice being written
  for (uint64_t start = 0, i = 0; start < size; start += kRangeSize, ++i) {
    const uint64_t end = std::min<uint64_t>(start + kRangeSize, size);
    Net::CHttpClientResponse& answer = answers[i % 2];
    const bool fetched = FetchRange(answer, object_url, start, end);
    if (!FinishSliceWrite(writer, writing) || !fetched) {
      return false;
    }
    writing = end - start;
    writer.Post(start, answer.GetBody().data(), static_cast<uint32_t>(writing));
  }
  if (!FinishSliceWrite(writer, writing)) {
    return false;
  }
  if (!FinishLocalFile(kDownloadObject)) {
    RecordRecvStatusError(3);
    return false;
  }
  return true;
}

bool CObjectProtoClient::FetchRange(Net::CHttpClientResponse& response,
                                    const std::string& object_url, uint64_t start, uint64_t end) {
  // The range text names `end` itself, so the answer may hold one byte more
  // than the slice [start, end): only the slice is written, and nothing past
  // that byte is read.
  const std::string range =
      Base::str_fmt("%llu-%llu", static_cast<ull>(start), static_cast<ull>(end));
  const uint64_t slice = end - start;
  if (!FetchObject(response, range, object_url, kDownloadObject, {}, slice + 1)) {
    return false;
  }
  const size_t received = response.GetBody().size();
  if (response.BodyLimitExceeded()) {
    // A server that ignores the range sends more; its first bytes are not
    // this slice.
    const auto length = static_cast<ull>(response.GetContentLength());
    DOWNLOAD_ERROR(
        "[%s][Client]send download object failed, url:%s, range[%s], body too long[%llu bytes "
        "for a slice of %llu][%s(%d)]",
        object_url.c_str(), range.c_str(), length, static_cast<ull>(slice));
    conf_->RecordError(5, Base::str_fmt("DownloadObject rsp range[%s] body too long[%llu bytes for "
                                        "a slice of %llu].",
                                        range.c_str(), length, static_cast<ull>(slice)));
    return false;
  }
  if (received >= slice) {
    return true;
  }
  DOWNLOAD_ERROR(
      "[%s][Client]send download object failed, url:%s, range[%s], body short[%zu of "
      "%llu bytes][%s(%d)]",
      object_url.c_str(), range.c_str(), received, static_cast<ull>(slice));
  conf_->RecordError(5, Base::str_fmt("DownloadObject rsp body short[%zu of %llu bytes].", received,
                                      static_cast<ull>(slice)));
  return false;
}

bool CObjectProtoClient::FinishSliceWrite(CSliceWriter& writer, uint64_t size) {
  if (!writer.Wait()) {
    OnWriteFailed(kDownloadObject);
    RecordRecvStatusError(3);
    return false;
  }
  written_size_ += size;
  ReportProgress();
  return true;
}

bool CObjectProtoClient::DownloadStream(const std::string& object_url) {
  SRequestFrame frame;
  frame.method = "GET";
  frame.url = download_base_ + object_url;
  frame.resource = object_url;
  SetConfiguredTimeouts(frame);
  Net::CHttpClientRequest request = BuildRequest(signer_, frame);
  DOWNLOAD_TRACE("[%s][Client]send url[%s][%s(%d)]", request.GetURL().ToStdString(true).c_str());
  return JudgeStream(Stream(request), object_url);
}

bool CObjectProtoClient::JudgeStream(bool streamed, const std::string& object_url) {
  if (!streamed) {
    DOWNLOAD_ERROR("[%s][Client]send download object failed, url:%s, error[%d,%d][%s(%d)]",
                   object_url.c_str(), recv_error_.major, recv_error_.minor);
    conf_->RecordError(4, Base::str_fmt("Send download big object msg failed[%d:%d].",
                                        recv_error_.major, recv_error_.minor));
    return false;
  }
  if (recv_status_ == 200) {
    return AcceptStreamedBody(object_url);
  }
  if (IsRedirectStatus(recv_status_)) {
    return FollowStreamRedirect(object_url);
  }
  DOWNLOAD_ERROR("[%s][Client]send download object failed, url:%s, error[%d][%s(%d)]",
                 object_url.c_str(), recv_status_);
  // Negative values are local failures; the rest are HTTP statuses or a
  // failure to open the file.
  RecordRecvStatusError(recv_status_ < 0 ? 3 : 5);
  return false;
}

bool CObjectProtoClient::FollowStreamRedirect(const std::string& object_url) {
  std::string base;
  std::string path;
  if (!SplitLocation(redirect_location_, conf_->config.use_https, base, path)) {
    DOWNLOAD_ERROR("[%s][Client]send download object failed, invalid new Location:%s[%s(%d)]",
                   redirect_location_.c_str());
    conf_->RecordError(6, Base::str_fmt("redirect url error[%s].", redirect_location_.c_str()));
    return false;
  }
  // The Location names the node only: its path is replaced by the object
  // URL of the call. No time-outs are set on this request.
  SRequestFrame frame;
  frame.method = "GET";
  frame.url = base + object_url;
  frame.resource = object_url;
  Net::CHttpClientRequest request = BuildRequest(signer_, frame);
  DOWNLOAD_TRACE("[%s][Client]send url[%s][%s(%d)]", request.GetURL().ToStdString(true).c_str());

  recv_status_ = -1;
  if (!Stream(request)) {
    DOWNLOAD_ERROR("[%s][Client]send download object failed, redirect url:%s[%s(%d)]",
                   redirect_location_.c_str());
    conf_->RecordErrorWithSubCode(4, recv_error_.minor,
                                  Base::str_fmt("Send download big object msg failed[%d:%d].",
                                                recv_error_.major, recv_error_.minor));
    return false;
  }
  if (recv_status_ != 200) {
    DOWNLOAD_ERROR(
        "[%s][Client]send download object failed, redirect url:%s, status code:%d[%s(%d)]",
        redirect_location_.c_str(), recv_status_);
    RecordRecvStatusError(5);
    return false;
  }
  return AcceptStreamedBody(redirect_location_);
}

bool CObjectProtoClient::Stream(Net::CHttpClientRequest& request) {
  const bool sent = Net::HttpClient::SendForBigRsp(
      request, [this](const Net::CHttpClientResponse& response, const char* data, uint32_t size,
                      Net::HttpClient::Error error,
                      bool last) { RecvMsgCallback(response, data, size, error, last); });
  return sent && recv_error_.minor == 0;
}

bool CObjectProtoClient::AcceptStreamedBody(const std::string& url) {
  if (StreamedBodyComplete()) {
    return true;
  }
  DOWNLOAD_ERROR(
      "[%s][Client]send download object failed, url:%s, body short[%llu of %llu "
      "bytes][%s(%d)]",
      url.c_str(), static_cast<ull>(written_size_), static_cast<ull>(content_length_));
  conf_->RecordError(
      5, Base::str_fmt("DownloadBigObject rsp body short[%llu of %llu bytes].",
                       static_cast<ull>(written_size_), static_cast<ull>(content_length_)));
  return false;
}

bool CObjectProtoClient::StreamedBodyComplete() const {
  // A length of 0 is either an empty object or an answer without a length
  // (chunked), whose end the transport vouches for.
  return content_length_ == 0 || written_size_ >= content_length_;
}

void CObjectProtoClient::RecvMsgCallback(const Net::CHttpClientResponse& response, const char* data,
                                         uint32_t size, Net::HttpClient::Error error, bool last) {
  const bool first_piece = recv_status_ == -1;
  if (first_piece) {
    recv_status_ = response.GetStatusCode();
    std::string length;
    response.GetHeaderField(length, "Content-Length");
    content_length_ = LeadingDecimal(length);
  }
  if (error.minor != 0) {
    recv_error_ = error;
  } else if (IsRedirectStatus(recv_status_)) {
    response.GetHeaderField(redirect_location_, "Location");
  } else if (recv_status_ == 200 && data != nullptr) {
    WritePiece(first_piece, data, size);
  }
  if (last) {
    if (recv_status_ == 200 && recv_error_.minor == 0 && StreamedBodyComplete()) {
      FinishLocalFile(kRecvMsgCallback);
    }
    file_handle_.Close();
  }
}

void CObjectProtoClient::WritePiece(bool first_piece, const char* data, uint32_t size) {
  if (first_piece && !OpenLocalFile(kRecvMsgCallback)) {
    return;
  }
  if (!file_handle_.IsOpen()) {
    recv_status_ = kNoOpenFile;
    ORCA_CS_LOG_AS(veklog::kLevelError, kRecvMsgCallback,
                   "[%s][Client]recv file, open file failed:%s[%s(%d)]", local_path_.c_str());
    return;
  }
  WriteLocalFile(written_size_, data, size, kRecvMsgCallback);
}

bool CObjectProtoClient::OpenLocalFile(const char* function) {
  if (file_handle_.Open(local_path_, File::Access::kReadWrite, File::Disposition::kOpenAlways)) {
    return true;
  }
  recv_status_ = kOpenFailedBase + file_handle_.LastError();
  ORCA_CS_LOG_AS(veklog::kLevelError, function,
                 "[%s][Client]recv file, open file failed:%s,%s, error[%d][%s(%d)]",
                 Base::UTF8ToLocal(local_path_).c_str(), local_path_.c_str(),
                 file_handle_.LastError());
  return false;
}

bool CObjectProtoClient::WriteLocalFile(uint64_t offset, const char* data, uint32_t size,
                                        const char* function) {
  uint32_t done = 0;
  if (!file_handle_.WriteAt(offset, data, size, done)) {
    OnWriteFailed(function);
    return false;
  }
  written_size_ += size;
  ReportProgress();
  return true;
}

bool CObjectProtoClient::FinishLocalFile(const char* function) {
  if (!file_handle_.IsOpen() && !OpenLocalFile(function)) {
    return false;
  }
  if (!file_handle_.Truncate(written_size_)) {
    OnWriteFailed(function);
    return false;
  }
  return true;
}

void CObjectProtoClient::OnWriteFailed(const char* function) {
  const int system_error = file_handle_.LastError();
  file_handle_.Close();
  recv_status_ = kWriteFailed;
  ORCA_CS_LOG_AS(veklog::kLevelError, function,
                 "[%s][Client]recv file, write failed:%s, error:%d[%s(%d)]", local_path_.c_str(),
                 system_error);
}

void CObjectProtoClient::ReportProgress() {
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

void CObjectProtoClient::RecordRecvStatusError(int32_t code) const {
  conf_->RecordErrorWithSubCode(
      code, recv_status_, Base::str_fmt("DownloadBigObject rsp status code[%d].", recv_status_));
}

}  // namespace CloudStorage
}  // namespace Orca
