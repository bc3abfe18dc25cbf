// The whole emulator: the data store, the service ports (upload, download,
// data nodes, picture gateway and its download port) and the admin port.
// With link emulation, a relay in front of each service port carries its
// traffic across the emulated link.
#ifndef OCS_EMULATOR_EMULATOR_H_
#define OCS_EMULATOR_EMULATOR_H_

#include <memory>
#include <string>
#include <vector>

#include "emulator/Options.h"
#include "emulator/admin/Journal.h"
#include "emulator/faults/Faults.h"
#include "emulator/http/Listener.h"
#include "emulator/link/Link.h"
#include "emulator/link/Relay.h"
#include "emulator/service/Auth.h"
#include "emulator/service/Context.h"
#include "emulator/service/Service.h"
#include "emulator/store/Store.h"

namespace ocs {

class Emulator {
 public:
  explicit Emulator(Options options);
  ~Emulator();
  Emulator(const Emulator&) = delete;
  Emulator& operator=(const Emulator&) = delete;

  // Opens the data directory, binds every port and starts serving.
  // Returns "" or the problem.
  std::string Start();
  // Stops every port; in-flight requests end.
  void Stop();

  // Every endpoint, e.g. {"address":"127.0.0.1","scheme":"http","upload":4001,
  // "download":4002,"nodes":[4003,4004],"gateway":4005,"gateway_download":4006,
  // "admin":4007,"data_dir":"/tmp/x","pools":[{"name":"pool1","ak":"ocs-ak"}]}.
  std::string EndpointsJson() const;

 private:
  Listener& AddListener(Role role, const TlsFiles* tls);
  std::string BindAll();
  // Binds `listener` to a hidden loopback port behind a relay on `host`:`port`.
  std::string BindRelayed(Listener& listener, const std::string& host, int port);

  const Options options_;
  Store store_;
  Authenticator auth_;
  Context ctx_;
  FaultInjector faults_;
  Journal journal_;
  Service service_;
  std::vector<std::unique_ptr<Listener>> listeners_;  // service ports, then admin
  std::unique_ptr<Link> link_;                        // only with link emulation
  std::vector<std::unique_ptr<Relay>> relays_;        // in front of the service ports
  bool started_ = false;
};

}  // namespace ocs

#endif  // OCS_EMULATOR_EMULATOR_H_
