// The whole emulator: the data store, the service ports (upload, download,
// data nodes, picture gateway and its download port) and the admin port.
#ifndef OCS_EMULATOR_EMULATOR_H_
#define OCS_EMULATOR_EMULATOR_H_

#include <memory>
#include <string>
#include <vector>

#include "emulator/Options.h"
#include "emulator/admin/Journal.h"
#include "emulator/faults/Faults.h"
#include "emulator/http/Listener.h"
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

  const Options options_;
  Store store_;
  Authenticator auth_;
  Context ctx_;
  FaultInjector faults_;
  Journal journal_;
  Service service_;
  std::vector<std::unique_ptr<Listener>> listeners_;  // service ports, then admin
  bool started_ = false;
};

}  // namespace ocs

#endif  // OCS_EMULATOR_EMULATOR_H_
