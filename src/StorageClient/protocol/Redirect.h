// Redirects: one follower for every download, whose policy is a row of one
// table. The callers' differences stand side by side there:
//
//   caller              statuses  follow-up asks for      follow-up time-outs
//   memory download     301, 302  the Location's path     the configured ones
//   ranged download     301, 302  the Location's path     the configured ones
//   streamed download   301, 302  the call's object URL   none
//   picture download    300-309   the Location's path     none (as the first)
//
// A redirect is followed once: a redirected answer that redirects again
// fails like any other answer than 200.
#ifndef ORCA_CS_REDIRECT_H_
#define ORCA_CS_REDIRECT_H_

#include <functional>
#include <string>

#include "net/HttpClient.h"
#include "protocol/Status.h"

namespace Orca {
namespace CloudStorage {

enum class RedirectCaller { kMemoryDownload, kRangedDownload, kStreamedDownload, kPictureDownload };

struct SRedirectPolicy {
  int first_status;  // the statuses followed: first_status to last_status
  int last_status;
  bool location_path;        // the follow-up asks for the Location's path, else the object URL
  bool configured_timeouts;  // the follow-up carries the configured time-outs, else none
};

const SRedirectPolicy& RedirectPolicy(RedirectCaller caller);
bool Redirects(RedirectCaller caller, int status);

// Splits `location`, which must begin with the expected scheme ("https://"
// when `use_https`, else "http://", in any case), at the first "/" after
// it: `base` gets what comes before that "/" (scheme and authority), `path`
// the rest. False when the scheme does not begin the Location (a scheme
// further in must not carry a signed request elsewhere, or in clear), no
// "/" follows it, or it holds a byte that cannot stand in a request line.
bool SplitLocation(const std::string& location, bool use_https, std::string& base,
                   std::string& path);

// Where a redirect of `caller` to `location` leads: the follow-up's base, and
// its target by the caller's policy (the Location's path or `object_url`).
// Code 6 "redirect url error[<location>]." for an unusable Location, logged
// as "[function][tag]send <what> failed, invalid new Location:<location>".
struct SDownloadTexts {
  const char* function;
  const char* tag;   // "Client" or "PicClient"
  const char* what;  // "download object" or "download picture"
};
Status RedirectTarget(RedirectCaller caller, const std::string& location, bool use_https,
                      const std::string& object_url, const SDownloadTexts& texts, std::string& base,
                      std::string& target);

// One GET of a download, sent by the caller's own means.
using SendGet = std::function<Status(const std::string& base, const std::string& target,
                                     Net::CHttpClientResponse& response)>;
// What a first answer other than 200 (and not a redirect) means.
using ClassifyAnswer = std::function<Status(int status, const std::string& body)>;

// GETs `target` from `base`, following one redirect by the caller's policy;
// success leaves a 200 answer in `response`. Every failure is logged as the
// downloads log them ("send <what> failed, url:...", "..., redirect
// url:...") and returned: the send's own status, `classify` for a first
// answer other than 200, code 6 for an unusable Location, code 5
// "DownloadObject rsp status code[%d]." for a redirected answer other than
// 200.
Status FetchFollowingRedirect(RedirectCaller caller, bool use_https, const SDownloadTexts& texts,
                              const std::string& base, const std::string& target,
                              const SendGet& send, const ClassifyAnswer& classify,
                              Net::CHttpClientResponse& response);

}  // namespace CloudStorage
}  // namespace Orca

#endif  // ORCA_CS_REDIRECT_H_
