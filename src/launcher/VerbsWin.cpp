// The verb table of the entry point: one line per verb. A verb that is not listed leads to the
// service control dispatcher.
#include <windows.h>

#include "env/TextConv.h"
#include "launcher/CommandLine.h"
#include "launcher/Entry.h"
#include "launcher/Fatal.h"
#include "launcher/Launch.h"
#include "launcher/Limits.h"
#include "launcher/Log.h"

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

int runPath(VerbCall& call) {
  ServiceMode = false;
  ArgumentVector = runPathArguments(call);
  launch(false);
  return 0;
}

const VerbEntry Verbs[] = {
    {u"?", verbUsage},
    {u"help", verbUsage},
};

}  // namespace

int verbRun(VerbCall& call) {
  logMessage(u"running service");
  NoRedirect = true;
  return runPath(call);
}

int verbRunRedirect(VerbCall& call) {
  logMessage(u"running service with redirection");
  return runPath(call);
}

std::span<const VerbEntry> verbTable() {
  return Verbs;
}

}  // namespace pelto
