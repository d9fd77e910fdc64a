// The verb table of the entry point: one line per verb. A verb that is not listed leads to the
// service control dispatcher.
#include <windows.h>

#include "env/TextConv.h"
#include "launcher/Entry.h"
#include "launcher/Fatal.h"
#include "launcher/Launch.h"
#include "launcher/Limits.h"
#include "service/ServiceControl.h"

namespace pelto {
namespace {

int verbUsage(VerbCall&) {
  std::wstring module(TextRoom, L'\0');
  DWORD n = GetModuleFileNameW(nullptr, module.data(), static_cast<DWORD>(TextRoom));
  if (n >= TextRoom) n = static_cast<DWORD>(TextRoom - 1);
  module.resize(n);
  consolePrint(wideToNarrow(usageLine(asU(module))));
  return 0;
}

int verbRun(VerbCall& c) {
  return runApplication(false, c.program, c.args);
}
int verbRunRedirect(VerbCall& c) {
  return runApplication(true, c.program, c.args);
}

// A handler gets the program element as typed and the words after the verb (ServiceName first
// when one was given). For the verbs that take options, a first word starting with "--" is an
// option and the configured service name stays.
const VerbEntry Verbs[] = {
    {u"?", verbUsage},
    {u"help", verbUsage},
    {u"install", verbInstall, true},
    {u"install-and-start", verbInstallAndStart, true},
    {u"install-auto", verbInstallAuto, true},
    {u"install-demand", verbInstallDemand, true},
    {u"uninstall", verbUninstall},
    {u"stop", verbStop},
    {u"start", verbStart},
    {u"restart", verbRestart},
    {u"status", verbStatus},
    {u"run", verbRun},
    {u"run-redirect", verbRunRedirect},
};

}  // namespace

std::span<const VerbEntry> verbTable() {
  return Verbs;
}

}  // namespace pelto
