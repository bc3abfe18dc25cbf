// The request pipeline of the service ports: faults, dispatch to the
// handlers of the port's role, the journal.
#ifndef OCS_EMULATOR_SERVICE_SERVICE_H_
#define OCS_EMULATOR_SERVICE_SERVICE_H_

#include "emulator/admin/Journal.h"
#include "emulator/faults/Faults.h"
#include "emulator/http/Exchange.h"
#include "emulator/http/Listener.h"
#include "emulator/service/Context.h"

namespace ocs {

class Service {
 public:
  Service(Context& ctx, FaultInjector& faults, Journal& journal)
      : ctx_(ctx), faults_(faults), journal_(journal) {}

  // Routes every request of `listener` (a service port) through Handle.
  void Install(Listener& listener);

 private:
  void Handle(Role role, int port, const httplib::Request& req, httplib::Response& res,
              const httplib::ContentReader* reader);
  void Dispatch(Exchange& ex);
  void Record(const Exchange& ex, const std::optional<FaultAction>& fault);

  Context& ctx_;
  FaultInjector& faults_;
  Journal& journal_;
};

}  // namespace ocs

#endif  // OCS_EMULATOR_SERVICE_SERVICE_H_
