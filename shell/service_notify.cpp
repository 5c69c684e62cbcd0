#include "shell/service_notify.h"

#include "core/kiv_server.h"
#include "core/kiv_srv.h"

namespace kiv {

void superviseService(KivSrv& host)
{
    notifyServiceReady();
    host.server()->setTickObserver([] { notifyServiceAlive(); });
}

}  // namespace kiv
