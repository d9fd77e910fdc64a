// The service verbs as the entry point's table calls them.
#include "launcher/Config.h"
#include "service/ServiceControl.h"
#include "service/ServiceText.h"

namespace pelto {

int verbInstall(VerbCall&) {
  return installService(installStartType(getConfigInt(107)));
}
int verbInstallAuto(VerbCall&) {
  return installService(AutoStart);
}
int verbInstallDemand(VerbCall&) {
  return installService(DemandStart);
}
int verbInstallAndStart(VerbCall& call) {
  // Starting after a failed install would start whatever service of that name exists.
  if (installService(installStartType(getConfigInt(107))) != 0) return 1;
  return startService(call.args);
}
int verbUninstall(VerbCall&) {
  return uninstallService(true);
}
int verbStart(VerbCall& call) {
  return startService(call.args);
}
int verbStop(VerbCall&) {
  return stopService(true);
}
int verbRestart(VerbCall& call) {
  stopService(false);
  return startService(call.args);
}
int verbStatus(VerbCall&) {
  return serviceStatus();
}

}  // namespace pelto
