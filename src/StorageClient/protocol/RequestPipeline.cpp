#include "protocol/RequestPipeline.h"

#include "base/StrFmt.h"
#include "wire/Logging.h"
#include "wire/Md5.h"
#include "wire/RequestText.h"
#include "wire/Signature.h"

namespace Orca {
namespace CloudStorage {
namespace {

std::string Sign(const SSigner& signer, const SRequestFrame& frame, const std::string& md5,
                 const std::string& date) {
  const std::string& type = frame.signed_type.empty() ? frame.content_type : frame.signed_type;
  if (signer.scheme == Signing::kPicture) {
    return MakePicSignature(frame.method, md5, type, date, frame.resource, signer.sk);
  }
  const ObjectSignature sign =
      signer.object_signature != nullptr ? signer.object_signature : &MakeSignature;
  return sign(frame.method, md5, type, date, "", frame.resource, signer.sk);
}

Status RefuseUnsafeTarget(const std::string& target, const SRequestTexts& texts) {
  Status status = CheckTargetText("request target", target);
  if (!status.ok()) {
    ORCA_CS_LOG_AS(veklog::kLevelError, texts.function, "[%s][%s]%s, %s[%s(%d)]", texts.tag,
                   texts.send_failed.c_str(), status.message().c_str());
  }
  return status;
}

// The service's answer when a node has no room for an upload.
bool IsNoSpace(int status, const std::string& body) {
  return status == 500 && body.find("NotEnoughSpace") != std::string::npos;
}

Status StatusFailure(int status, const std::string& body, const SRequestTexts& texts) {
  ORCA_CS_LOG_AS(veklog::kLevelError, texts.function, "[%s][%s]%s, error[%d:%s][%s(%d)]", texts.tag,
                 texts.failed.c_str(), status, QuoteBody(body).c_str());
  return texts.no_space && IsNoSpace(status, body)
             ? Status(ErrorCode::kNoSpace,
                      Base::str_fmt("upload object rsp status code[%d].", status))
             : Status(ErrorCode::kBadAnswer,
                      Base::str_fmt("%s rsp status code[%d].", texts.name.c_str(), status));
}

Status ParseFailure(const std::string& body, const SRequestTexts& texts) {
  const std::string quoted = QuoteBody(body);
  ORCA_CS_LOG_AS(veklog::kLevelError, texts.function, "[%s][%s]%s, invalid %s[%s][%s(%d)]",
                 texts.tag, texts.parse_failed.c_str(), texts.document, quoted.c_str());
  return Status(ErrorCode::kBadAnswer,
                Base::str_fmt("%s rsp msg invalid[%s].", texts.name.c_str(), quoted.c_str()));
}

// A success status says the service acted on a write that is repeated
// until answered: a repeat would meet the work done.
bool ServiceActed(const SRequestFrame& frame, int status) {
  return frame.repeat == Repeat::kUntilAnswered && frame.method != "GET" && status / 100 == 2;
}

bool WorthRetrying(const SRequestFrame& frame, int status) {
  switch (frame.repeat) {
    case Repeat::kNever:
      return false;
    case Repeat::kUntilAnswered:
      return !ServiceActed(frame, status);
    case Repeat::kAlways:
      return true;
  }
  return false;
}

// With retries on, a write the service acted on is done even when the rest
// of its answer broke: it is judged by its status (a document it should
// carry still has to parse).
bool DoneDespiteBrokenAnswer(const CCall& call, const SRequestFrame& frame, int status) {
  return call.RetryPolicy().attempts > 1 && ServiceActed(frame, status);
}

}  // namespace

SRequestTexts RequestTexts(const char* function, const std::string& failed, const std::string& name,
                           const char* tag) {
  return SRequestTexts{function, tag, "send " + failed, "Send " + name + " msg failed", failed,
                       failed,   name};
}

Net::CHttpClientRequest BuildRequest(const SSigner& signer, const SRequestFrame& frame) {
  Net::CHttpClientRequest request;
  request.SetURL(Net::URL(frame.url));
  request.SetMethod(frame.method);
  request.AddHeaderField("Host", signer.host);
  const std::string date = MakeHttpDate();
  request.AddHeaderField("Date", date);
  if (!frame.content_type.empty()) {
    request.SetContentType(frame.content_type);
  }
  std::string content_md5;
  if (frame.body_md5) {
    content_md5 = MakeContentMd5(frame.body, frame.body_size);
    request.AddHeaderField("Content-MD5", content_md5);
  }
  request.AddHeaderField("Authorization",
                         MakeAuthorization(signer.ak, Sign(signer, frame, content_md5, date)));
  for (const auto& [name, value] : frame.extra_headers) {
    request.AddHeaderField(name, value);
  }
  if (frame.body != nullptr) {
    request.SetDataRef(frame.body, frame.body_size);
  }
  request.SetReceiveTimeout(frame.receive_timeout_ms);
  request.SetSendTimeout(frame.send_timeout_ms);
  request.SetMaxResponseBody(frame.max_response_body);
  request.SetBodyStorage(frame.storage);
  request.SetStopCheck(signer.call.StopCheck());
  request.SetFreshConnection(frame.repeat == Repeat::kNever);
  return request;
}

std::string TransientCause(const Net::HttpClient::Error& error, int status,
                           const std::string& body) {
  if (error.major != 0) {
    return Net::IsTransient(error) ? Base::str_fmt("error[%d:%d]", error.major, error.minor)
                                   : std::string();
  }
  if ((status == 500 && !IsNoSpace(status, body)) || status == 502 || status == 503 ||
      status == 504) {
    return Base::str_fmt("status code[%d]", status);
  }
  return std::string();
}

bool WaitToRetry(const CCall& call, uint32_t attempt, const std::string& cause,
                 const char* function, const char* tag) {
  const SRetryPolicy policy = call.RetryPolicy();
  if (attempt >= policy.attempts || call.Cancelled()) {
    return false;
  }
  const uint32_t delay = policy.DelayAfter(attempt);
  ORCA_CS_LOG_AS(veklog::kLevelWarning, function,
                 "[%s][%s]retry: attempt %u of %u in %u ms, after %s[%s(%d)]", tag, attempt + 1,
                 policy.attempts, delay, cause.c_str());
  return call.Wait(delay);
}

Status SendRequest(const SSigner& signer, const SRequestFrame& frame, const SRequestTexts& texts,
                   Net::CHttpClientResponse& response) {
  Status refused = RefuseUnsafeTarget(Net::URL(frame.url).ToStdString(false), texts);
  if (!refused.ok()) {
    return refused;
  }
  bool broken_before = false;  // an earlier copy of the request broke on the way
  for (uint32_t attempt = 1;; ++attempt) {
    // Each try is signed afresh: its Date is the time it goes out.
    Net::CHttpClientRequest request = BuildRequest(signer, frame);
    ORCA_CS_LOG_AS(frame.trace_level, texts.function, "[%s][%s]send url[%s][%s(%d)]", texts.tag,
                   request.GetURL().ToStdString(true).c_str());
    Net::HttpClient::Error error;
    const bool answered = Net::HttpClient::Send(request, response, error);
    const int status = response.GetStatusCode();
    if (signer.call.Cancelled()) {
      return Status::Cancelled();
    }
    broken_before = broken_before || response.WasResent();
    if (broken_before && frame.done_on_repeat != 0 && status == frame.done_on_repeat) {
      // A copy whose answer broke may have done the work: the repeat finds
      // it done.
      ORCA_CS_LOG_AS(veklog::kLevelWarning, texts.function,
                     "[%s][%s]found done: status code[%d] after a broken try[%s(%d)]", texts.tag,
                     status);
      response.SetStatusCode(200);
      return Status();
    }
    const std::string cause = WorthRetrying(frame, status)
                                  ? TransientCause(error, status, response.GetBody())
                                  : std::string();
    if (cause.empty() || !WaitToRetry(signer.call, attempt, cause, texts.function, texts.tag)) {
      if (signer.call.Cancelled()) {
        return Status::Cancelled();
      }
      if (answered || DoneDespiteBrokenAnswer(signer.call, frame, status)) {
        return Status();
      }
      ORCA_CS_LOG_AS(veklog::kLevelError, texts.function, "[%s][%s]%s, error[%d:%d][%s(%d)]",
                     texts.tag, texts.send_failed.c_str(), error.major, error.minor);
      return Status(ErrorCode::kTransport, Base::str_fmt("%s[%d:%d].", texts.send_message.c_str(),
                                                         error.major, error.minor));
    }
    broken_before = broken_before || error.major != 0;
  }
}

Status Exchange(const SSigner& signer, const SRequestFrame& frame, const SRequestTexts& texts,
                Net::CHttpClientResponse& response, proto::IProto* document) {
  Status status = SendRequest(signer, frame, texts, response);
  if (!status.ok()) {
    return status;
  }
  const std::string& body = response.GetBody();
  if (response.GetStatusCode() != 200) {
    return StatusFailure(response.GetStatusCode(), body, texts);
  }
  if (document != nullptr && !document->set_str(body)) {
    return ParseFailure(body, texts);
  }
  return Status();
}

Status ExchangeForText(const SSigner& signer, const SRequestFrame& frame,
                       const SRequestTexts& texts, const char* path,
                       size_t (*find_unsafe)(const std::string&), const char* what,
                       std::string& text) {
  Net::CHttpClientResponse response;
  proto::CXmlProto document;
  Status status = Exchange(signer, frame, texts, response, &document);
  if (!status.ok()) {
    return status;
  }
  std::string found = document.get_v(path, "");
  const size_t unsafe = find_unsafe(found);
  if (unsafe != std::string::npos) {
    const std::string problem = DescribeUnsafeByte(what, found, unsafe);
    ORCA_CS_LOG_AS(veklog::kLevelError, texts.function, "[%s][%s]%s, %s[%s(%d)]", texts.tag,
                   texts.failed.c_str(), problem.c_str());
    return Status(ErrorCode::kBadAnswer, texts.name + " rsp " + problem + ".");
  }
  text = std::move(found);
  return Status();
}

}  // namespace CloudStorage
}  // namespace Orca
