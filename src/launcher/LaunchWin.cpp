// The launch sequence: included files, native library path, console handler, single instance,
// runtime, JVM. The run verbs enter it from the console.
#include <windows.h>

#include "env/Extract.h"
#include "env/NativeLibs.h"
#include "instance/Instance.h"
#include "jre/LoadJvm.h"
#include "jvm/ChosenRuntime.h"
#include "jvm/JavaVMLauncher.h"
#include "launcher/CommandLine.h"
#include "launcher/Fatal.h"
#include "launcher/Launch.h"
#include "launcher/Log.h"
#include "service/ServiceRuntime.h"

namespace pelto {

std::vector<std::u16string> LaunchArguments;

void launch(bool withConsoleHandler) {
  if (extractIncludedFiles() != 0) raiseLaunchError(1009, std::u16string_view(u"16"));
  setNativeLibraryPath();
  if (withConsoleHandler) {
    logMessage(u"registering ConsoleCtrlHandler");
    SetConsoleCtrlHandler(consoleControlHandler, TRUE);
  }
  setUpSingleInstance(withConsoleHandler);
  // Both report their own failure before returning false. The service's child also writes the
  // runtime it chose, or that there was none, to the event log when that is on.
  if (!LoadDLL()) {
    if (withConsoleHandler && JvmHome.empty()) reportChildServiceEvent(ServiceEvent::NoJavaRuntime);
    exitLauncher(1);
  }
  if (withConsoleHandler) reportChildServiceEvent(ServiceEvent::Started);
  if (!launchJvm(LaunchArguments)) exitLauncher(1);
}

int runApplication(bool redirect, const std::u16string& program, const std::vector<std::u16string>& args) {
  if (redirect) {
    logMessage(u"running service with redirection");
  } else {
    logMessage(u"running service");
    NoRedirect = true;
  }
  ServiceMode = false;
  LaunchArguments.clear();
  LaunchArguments.push_back(program);
  LaunchArguments.insert(LaunchArguments.end(), args.begin(), args.end());
  launch(false);
  return 0;
}

}  // namespace pelto
