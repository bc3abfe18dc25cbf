// How TLS peers are verified, from the environment:
//   ORCA_CS_CA_BUNDLE    PEM file of trusted CAs; unset or empty: the system store
//   ORCA_CS_TLS_INSECURE "1" turns peer and host name verification off
//                        (development only; a warning is logged once per process)
// Both are read at every request.
#ifndef ORCA_PLATFORM_NET_TLSSETTINGS_H_
#define ORCA_PLATFORM_NET_TLSSETTINGS_H_

#include <string>

namespace Orca {
namespace Net {

struct TlsSettings {
  std::string ca_bundle;  // empty: the system store
  bool verify = true;
};

TlsSettings CurrentTlsSettings();

}  // namespace Net
}  // namespace Orca

#endif  // ORCA_PLATFORM_NET_TLSSETTINGS_H_
