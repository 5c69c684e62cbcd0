// No service manager to tell on Windows.
#include "shell/service_notify.h"

namespace kiv {

void notifyServiceReady() {}

void notifyServiceAlive() {}

}  // namespace kiv
