#pragma once
// The service verbs: short programs against the Service Control Manager on the service named
// ServiceName. Each prints its outcome on standard output and returns the exit code.
#include <cstdint>
#include <span>
#include <string>

namespace pelto {

// 2 (automatic) or 3 (demand). 0 installed, 1 failed.
int installService(std::uint32_t startType);
// 0 removed, 1 failed; failures are printed only when reporting.
int uninstallService(bool report);
// 0 stopped or not running, 1 failed.
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
int verbInstall(VerbCall& call);  // automatic start for ExecutableType 4, else demand
int verbInstallAuto(VerbCall& call);
int verbInstallDemand(VerbCall& call);
int verbInstallAndStart(VerbCall& call);  // install, then start unless the install failed
int verbUninstall(VerbCall& call);
int verbStart(VerbCall& call);
int verbStop(VerbCall& call);
int verbRestart(VerbCall& call);  // quiet stop, then start
int verbStatus(VerbCall& call);

}  // namespace pelto
