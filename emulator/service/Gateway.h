// The picture gateway:
//   gateway port           GET /QuarnBox/BestNode?SerialID=..&PoolID=..&Replication=0
//                          POST /QuarnBox/Picture/Write (multipart/form-data)
//   gateway download port  GET <PictureUrl> (redirects like object downloads)
//   data nodes             GET <PictureUrl>
// Picture URLs have the form /QuarnBox/Picture/<pool>/<32 hex digits>.jpg.
#ifndef OCS_EMULATOR_SERVICE_GATEWAY_H_
#define OCS_EMULATOR_SERVICE_GATEWAY_H_

#include <string>

#include "emulator/http/Exchange.h"
#include "emulator/service/Context.h"

namespace ocs {

bool IsPicturePath(const std::string& path);

void HandleGatewayPort(Exchange& ex, Context& ctx);
void HandleGatewayDownloadPort(Exchange& ex, Context& ctx);
// Serves a picture GET; `may_redirect` on the gateway's download port.
void HandlePictureRead(Exchange& ex, Context& ctx, bool may_redirect);

}  // namespace ocs

#endif  // OCS_EMULATOR_SERVICE_GATEWAY_H_
