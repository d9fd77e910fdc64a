#pragma once
// The service verbs: short programs against the Service Control Manager on the service named
// ServiceName. Each prints its outcome on standard output and returns the exit code.
#include <cstdint>
#include <span>
#include <string>

#include "service/ServiceInstall.h"

namespace pelto {

// The password of the plan's named account: from the variable the configuration names, else a
// line of standard input (read without echo from a console). False, with a message printed,
// when none was given: a named account cannot be installed without one.
bool readAccountPassword(const InstallPlan& plan, std::u16string& password);

// Creates the service as planned, or changes an existing one of the same name in place (its
// state is kept). Settings the manager refuses once the service exists are each printed with
// the reason. 0 installed, ExitInstalledWithWarnings installed without some settings, 1 failed.
int installService(const InstallPlan& plan, const std::u16string& password);
// 0 removed, 1 failed; failures are printed only when reporting.
int uninstallService(bool report);
// 0 stopped or not running, 1 failed or still stopping when the wait ended.
int stopService(bool report);
// arguments: the vector after the verb; its elements after the first are the start arguments.
// 0 started or already running, 1 failed.
int startService(std::span<const std::u16string> arguments);
// 0 running, 3 not running, 1 failed.
int serviceStatus();

}  // namespace pelto

#include "launcher/Entry.h"

namespace pelto {

// The service verbs of the entry point's table.
// The start type of the install verbs: --start, else the verb's own (install-auto,
// install-demand), else the packed one, else automatic for ExecutableType 4 and demand otherwise.
int verbInstall(VerbCall& call);
int verbInstallAuto(VerbCall& call);
int verbInstallDemand(VerbCall& call);
int verbInstallAndStart(VerbCall& call);  // install, then start unless the install failed
int verbUninstall(VerbCall& call);
int verbStart(VerbCall& call);
int verbStop(VerbCall& call);
int verbRestart(VerbCall& call);  // stop, then start unless the stop failed
int verbStatus(VerbCall& call);

}  // namespace pelto
