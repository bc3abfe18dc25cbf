#include "protocol/Redirect.h"

#include <strings.h>

#include <string_view>

#include "base/StrFmt.h"
#include "wire/Logging.h"
#include "wire/RequestText.h"

namespace Orca {
namespace CloudStorage {
namespace {

// Indexed by RedirectCaller.
constexpr SRedirectPolicy kPolicies[] = {
    {301, 302, true, true},    // memory download
    {301, 302, true, true},    // ranged download
    {301, 302, false, false},  // streamed download
    {300, 309, true, false},   // picture download
};

Status FirstAnswerFailure(const Net::CHttpClientResponse& response, const SDownloadTexts& texts,
                          const std::string& base, const ClassifyAnswer& classify) {
  ORCA_CS_LOG_AS(veklog::kLevelError, texts.function,
                 "[%s][%s]send %s failed, url:%s, status code:%d, body:%s[%s(%d)]", texts.tag,
                 texts.what, base.c_str(), response.GetStatusCode(),
                 QuoteBody(response.GetBody()).c_str());
  return classify(response.GetStatusCode(), response.GetBody());
}

Status FollowUp(const std::string& location, const SDownloadTexts& texts, const std::string& base,
                const std::string& target, const SendGet& send,
                Net::CHttpClientResponse& response) {
  Status sent = send(base, target, response);
  if (!sent.ok()) {
    ORCA_CS_LOG_AS(veklog::kLevelError, texts.function,
                   "[%s][%s]send %s failed, redirect url:%s[%s(%d)]", texts.tag, texts.what,
                   location.c_str());
    return sent;
  }
  const int status = response.GetStatusCode();
  if (status == 200) {
    return Status();
  }
  ORCA_CS_LOG_AS(veklog::kLevelError, texts.function,
                 "[%s][%s]send %s failed, redirect url:%s, status code:%d, body:%s[%s(%d)]",
                 texts.tag, texts.what, location.c_str(), status,
                 QuoteBody(response.GetBody()).c_str());
  return Status(ErrorCode::kBadAnswer,
                Base::str_fmt("DownloadObject rsp status code[%d].", status));
}

}  // namespace

const SRedirectPolicy& RedirectPolicy(RedirectCaller caller) {
  return kPolicies[static_cast<int>(caller)];
}

bool Redirects(RedirectCaller caller, int status) {
  const SRedirectPolicy& policy = RedirectPolicy(caller);
  return status >= policy.first_status && status <= policy.last_status;
}

bool SplitLocation(const std::string& location, bool use_https, std::string& base,
                   std::string& path) {
  const std::string_view scheme = use_https ? "https://" : "http://";
  if (location.size() < scheme.size() ||
      strncasecmp(location.c_str(), scheme.data(), scheme.size()) != 0) {
    return false;
  }
  // The new target goes on the request line as it is.
  if (FindTargetUnsafeByte(location) != std::string::npos) {
    return false;
  }
  const size_t slash = location.find('/', scheme.size());
  if (slash == std::string::npos) {
    return false;
  }
  base = location.substr(0, slash);
  path = location.substr(slash);
  return true;
}

Status RedirectTarget(RedirectCaller caller, const std::string& location, bool use_https,
                      const std::string& object_url, const SDownloadTexts& texts, std::string& base,
                      std::string& target) {
  std::string path;
  if (!SplitLocation(location, use_https, base, path)) {
    ORCA_CS_LOG_AS(veklog::kLevelError, texts.function,
                   "[%s][%s]send %s failed, invalid new Location:%s[%s(%d)]", texts.tag, texts.what,
                   location.c_str());
    return Status(ErrorCode::kBadRedirect,
                  Base::str_fmt("redirect url error[%s].", location.c_str()));
  }
  target = RedirectPolicy(caller).location_path ? path : object_url;
  return Status();
}

Status FetchFollowingRedirect(RedirectCaller caller, bool use_https, const SDownloadTexts& texts,
                              const std::string& base, const std::string& target,
                              const SendGet& send, const ClassifyAnswer& classify,
                              Net::CHttpClientResponse& response) {
  Status sent = send(base, target, response);
  if (!sent.ok()) {
    ORCA_CS_LOG_AS(veklog::kLevelError, texts.function, "[%s][%s]send %s failed, url:%s[%s(%d)]",
                   texts.tag, texts.what, target.c_str());
    return sent;
  }
  const int status = response.GetStatusCode();
  if (status == 200) {
    return Status();
  }
  if (!Redirects(caller, status)) {
    return FirstAnswerFailure(response, texts, base, classify);
  }
  std::string location;
  response.GetHeaderField(location, "Location");
  std::string new_base;
  std::string new_target;
  Status usable = RedirectTarget(caller, location, use_https, target, texts, new_base, new_target);
  return usable.ok() ? FollowUp(location, texts, new_base, new_target, send, response) : usable;
}

}  // namespace CloudStorage
}  // namespace Orca
