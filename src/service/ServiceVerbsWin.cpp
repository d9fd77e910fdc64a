// The service verbs as the entry point's table calls them.
#include <windows.h>

#include "env/TextConv.h"
#include "launcher/CommandLine.h"
#include "launcher/Config.h"
#include "launcher/Fatal.h"
#include "service/ServiceControl.h"
#include "service/ServiceInstall.h"
#include "service/ServiceText.h"

namespace pelto {
namespace {

// The install verbs: [NAME] [--account A] [--start S] [--display-name D]; install-and-start
// hands the words after the options to the start. Everything is checked, and a named account's
// password read, before an existing service is touched.
int install(VerbCall& call, const StartChoice* verbChoice, bool thenStart) {
  std::span<const std::u16string> words = call.args;
  if (!words.empty() && !isInstallOption(words.front())) words = words.subspan(1);  // the service name
  InstallOptions options;
  InstallPlan plan;
  std::u16string error, password;
  if (parseInstallOptions(words, options, error) && !thenStart && !options.rest.empty())
    error =
        u"Unexpected word \"" + options.rest.front() + u"\": the service name comes first, then the options.";
  if (error.empty()) planInstall(options, verbChoice, ServiceName, plan, error);
  if (!error.empty()) {
    consolePrint(wideToNarrow(error) + "\n");
    return 1;
  }
  if (!readAccountPassword(plan, password)) return 1;
  int result = installService(plan, password);
  SecureZeroMemory(password.data(), password.size() * sizeof(char16_t));
  // Starting after a failed install would start whatever service of that name exists. A service
  // installed without some of its settings starts; the refusals keep their exit code.
  if (!thenStart || (result != 0 && result != ExitInstalledWithWarnings)) return result;
  std::vector<std::u16string> startArgs{ServiceName};
  startArgs.insert(startArgs.end(), options.rest.begin(), options.rest.end());
  int started = startService(startArgs);
  return started ? started : result;
}

constexpr StartChoice AutoChoice{AutoStart, false};
constexpr StartChoice DemandChoice{DemandStart, false};

}  // namespace

int verbInstall(VerbCall& call) {
  return install(call, nullptr, false);
}
int verbInstallAuto(VerbCall& call) {
  return install(call, &AutoChoice, false);
}
int verbInstallDemand(VerbCall& call) {
  return install(call, &DemandChoice, false);
}
int verbInstallAndStart(VerbCall& call) {
  return install(call, nullptr, true);
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
  // A start while the old process is still stopping would only meet "already running".
  if (int stopped = stopService(true)) return stopped;
  return startService(call.args);
}
int verbStatus(VerbCall&) {
  return serviceStatus();
}

}  // namespace pelto
