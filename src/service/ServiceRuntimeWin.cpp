// Minimal service main until the service runtime is built: it logs and returns, which ends the
// dispatcher call without ever reporting a running service.
#include "service/ServiceRuntime.h"

#include "launcher/Log.h"

namespace pelto {

void WINAPI serviceMain(DWORD argc, LPWSTR*) {
  logError(u"service main is not available yet (%d arguments)", static_cast<int>(argc));
}

}  // namespace pelto
