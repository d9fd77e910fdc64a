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
  consolePrint(wideToNarrow(usageText(moduleFileName(), verbTable(), true)));
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
// The words and the line of each verb make the usage text; a verb without a line is an alias.
const VerbEntry Verbs[] = {
    {u"install", verbInstall, true, u"[NAME] [OPTIONS]", u"install, or update an installed service in place"},
    {u"install-auto", verbInstallAuto, true, u"[NAME] [OPTIONS]", u"the same with automatic start"},
    {u"install-demand", verbInstallDemand, true, u"[NAME] [OPTIONS]", u"the same with demand start"},
    {u"install-and-start", verbInstallAndStart, true, u"[NAME] [OPTIONS] [ARGS]",
     u"install, then start with ARGS"},
    {u"uninstall", verbUninstall, false, u"[NAME]", u"stop and remove the service"},
    {u"start", verbStart, false, u"[NAME] [ARGS]", u"start, handing ARGS to the service"},
    {u"stop", verbStop, false, u"[NAME]", u"stop, waiting until it has stopped"},
    {u"restart", verbRestart, false, u"[NAME] [ARGS]", u"stop, then start with ARGS"},
    {u"status", verbStatus, false, u"[NAME]", u"running or not, and why it last stopped"},
    {u"run", verbRun, false, u"[ARGS]", u"run the application in this console"},
    {u"run-redirect", verbRunRedirect, false, u"[ARGS]", u"the same with the configured output files"},
    {u"help", verbUsage, false, u"", u"this text"},
    {u"?", verbUsage, false, u"", u""},
    {u"h", verbUsage, false, u"", u""},
};

}  // namespace

std::span<const VerbEntry> verbTable() {
  return Verbs;
}

}  // namespace pelto
