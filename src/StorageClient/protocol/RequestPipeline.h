// The one request pipeline of the protocol clients: a signed request is
// built from a frame, sent, and its answer judged (status, then the document
// when one is expected). Every failure is logged on behalf of the calling
// method and returned as a Status, in the words of the request's texts.
#ifndef ORCA_CS_REQUESTPIPELINE_H_
#define ORCA_CS_REQUESTPIPELINE_H_

#include <cstdint>
#include <string>

#include "net/HttpClient.h"
#include "proto/Proto.h"
#include "protocol/CallControl.h"
#include "protocol/Status.h"

namespace Orca {
namespace CloudStorage {

// Which string to sign: the object protocol's (with a line of canonical
// headers) or the picture gateway's (without).
enum class Signing { kObject, kPicture };

// The object protocol's signature: method, Content-MD5, content type,
// date, canonical headers, resource and key in, Base64 out.
using ObjectSignature = std::string (*)(const std::string&, const std::string&, const std::string&,
                                        const std::string&, const std::string&, const std::string&,
                                        const std::string&);

// Who signs, the Host value every request carries, and the call the
// requests belong to (its retry policy and cancellation).
struct SSigner {
  Signing scheme = Signing::kObject;
  std::string host;
  std::string ak;
  std::string sk;
  ObjectSignature object_signature = nullptr;  // null: MakeSignature
  CCall call;
};

// Which tries of a request the call's retry policy allows.
enum class Repeat {
  kAlways,         // writes whose repeat leaves at most an unused upload: also
                   // after a success status whose body broke
  kUntilAnswered,  // reads (GET) always; writes only until a success status
                   // arrives (the service acted)
  kNever,          // once, on a fresh connection
};

// What differs between the signed requests.
struct SRequestFrame {
  std::string method;
  std::string url;             // base and target; the target goes out byte for byte
  std::string resource;        // what is signed: the target, unless a request names another
  std::string content_type;    // the header; empty: none
  std::string signed_type;     // the content type as signed; empty: content_type
  const char* body = nullptr;  // borrowed
  uint32_t body_size = 0;
  bool body_md5 = false;                                // send a Content-MD5 of the body
  Net::CHttpClientRequest::HeaderFields extra_headers;  // after Authorization
  int receive_timeout_ms = 0;                           // 0: the HTTP component's default
  int send_timeout_ms = 0;
  uint64_t max_response_body = UINT64_MAX;  // longer answers are not kept
  Net::CHttpClientRequest::BodyStorage storage;
  int trace_level = 2;  // of the "send url" record
  Repeat repeat = Repeat::kUntilAnswered;
  // A status that, answering a repeat after a copy of the request whose
  // answer broke, means that copy did the work (404 for a removal); 0: none.
  int done_on_repeat = 0;
};

// How one request's failures read. Log records, after "[function][tag]":
// "<send_failed>, error[major:minor]", "<failed>, error[status:body]",
// "<parse_failed>, invalid <document>[body]"; messages recorded:
// "<send_message>[major:minor].", "<name> rsp status code[status].",
// "<name> rsp msg invalid[body].".
struct SRequestTexts {
  const char* function = "";
  const char* tag = "Client";
  std::string send_failed;
  std::string send_message;
  std::string failed;
  std::string parse_failed;
  std::string name;
  const char* document = "xml";  // as the parse record names it
  bool no_space = false;         // a 500 answer naming NotEnoughSpace is code 7
};

// The texts of most requests: "send <failed>" when the send fails, "<failed>"
// for the status and the document, "Send <name> msg failed" as the message.
SRequestTexts RequestTexts(const char* function, const std::string& failed, const std::string& name,
                           const char* tag = "Client");

// The request a frame describes: Host, Date, Content-MD5 and Authorization
// in that order, the content type, the borrowed body and the frame's limits.
Net::CHttpClientRequest BuildRequest(const SSigner& signer, const SRequestFrame& frame);

// Builds and sends the request, after its "send url" record. Code 2 for a
// target that cannot stand in a request line (nothing is sent), code 4 for a
// transport failure, code 10 once the call is cancelled. `response` holds the
// answer, whatever its status. A request that fails on the way (as its
// Repeat allows) or is answered 500 (not NotEnoughSpace), 502, 503 or 504 is
// built, signed and sent again while the call's retry policy allows, after a
// level 4 record of the retry and a wait that Cancel cuts short.
Status SendRequest(const SSigner& signer, const SRequestFrame& frame, const SRequestTexts& texts,
                   Net::CHttpClientResponse& response);

// Why an exchange is worth another try ("error[major:minor]", "status
// code[503]"), or empty: a transport failure on the way (refused, reset,
// timed out, cut short), or an answer 500 (not NotEnoughSpace), 502, 503 or
// 504.
std::string TransientCause(const Net::HttpClient::Error& error, int status,
                           const std::string& body);

// After try `attempt` failed for `cause`: false when the call's policy
// allows no further try or the call is cancelled; else logs the retry at
// level 4 on behalf of `function` and waits (false when cancelled meanwhile).
bool WaitToRetry(const CCall& call, uint32_t attempt, const std::string& cause,
                 const char* function, const char* tag);

// SendRequest, then the answer must be a 200 (else code 5, or 7) and, with a
// `document`, its body must parse into it (else code 5).
Status Exchange(const SSigner& signer, const SRequestFrame& frame, const SRequestTexts& texts,
                Net::CHttpClientResponse& response, proto::IProto* document = nullptr);

// Exchange with an XML answer, then `text` gets its value at `path`, a value
// that later requests carry: one holding a byte that `find_unsafe` finds is
// code 5 "<name> rsp <what>[...] holds byte ...", logged after "<failed>, ".
Status ExchangeForText(const SSigner& signer, const SRequestFrame& frame,
                       const SRequestTexts& texts, const char* path,
                       size_t (*find_unsafe)(const std::string&), const char* what,
                       std::string& text);

}  // namespace CloudStorage
}  // namespace Orca

#endif  // ORCA_CS_REQUESTPIPELINE_H_
