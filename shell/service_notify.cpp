#include "shell/service_notify.h"

#include "service/kiv_server.h"
#include "service/kiv_srv.h"

namespace kiv {

void superviseService(KivSrv& host)
{
    notifyServiceReady();
    host.server()->setTickObserver([] { notifyServiceAlive(); });
}

}  // namespace kiv
