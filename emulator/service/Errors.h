// Error answers: an HTTP status and an XML body naming the cause.
//   <Error><Code>NoSuchKey</Code><Message>...</Message>
//          <Resource>/p1/k</Resource><RequestId>...</RequestId></Error>
#ifndef OCS_EMULATOR_SERVICE_ERRORS_H_
#define OCS_EMULATOR_SERVICE_ERRORS_H_

#include <string>
#include <utility>
#include <vector>

namespace ocs {

struct ApiError {
  int status = 500;
  std::string code;     // e.g. "NoSuchKey"
  std::string message;  // for people
  // Further elements after the standard ones, e.g. {"StringToSign", ...}.
  std::vector<std::pair<std::string, std::string>> details;
};

ApiError MakeError(int status, std::string code, std::string message);

// Shorthands for the frequent ones.
ApiError BadRequest(std::string code, std::string message);  // 400
ApiError AccessDenied(std::string message);                  // 403 AccessDenied
ApiError NoSuchBucket(const std::string& pool);              // 404
ApiError NoSuchKey(const std::string& key);                  // 404
ApiError NotEnoughSpace(const std::string& pool);            // 500

// The XML document of `error` for a request on `resource`.
std::string ErrorXml(const ApiError& error, const std::string& resource,
                     const std::string& request_id);

// A plain XML document with one root and text children, e.g.
// XmlDocument("BestNodeInfo", {{"Location", "127.0.0.1:4000"}}).
std::string XmlDocument(const std::string& root,
                        const std::vector<std::pair<std::string, std::string>>& children);

}  // namespace ocs

#endif  // OCS_EMULATOR_SERVICE_ERRORS_H_
