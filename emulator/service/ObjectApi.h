// The object protocol, per port:
//   upload port    GET /?version, GET /pool/key?bestnode, POST ?uploads,
//                  POST ?upload_id=ID (completion), DELETE [?deletefile]
//   data nodes     PUT /pool/key, POST ?upload_id=ID&part_number=N,
//                  GET /pool/key [?metadata], picture GETs
//   download port  GET /pool/key (Range, redirects), GET ?metadata
#ifndef OCS_EMULATOR_SERVICE_OBJECTAPI_H_
#define OCS_EMULATOR_SERVICE_OBJECTAPI_H_

#include "emulator/http/Exchange.h"
#include "emulator/service/Context.h"

namespace ocs {

void HandleUploadPort(Exchange& ex, Context& ctx);
void HandleNodePort(Exchange& ex, Context& ctx);
void HandleDownloadPort(Exchange& ex, Context& ctx);

}  // namespace ocs

#endif  // OCS_EMULATOR_SERVICE_OBJECTAPI_H_
