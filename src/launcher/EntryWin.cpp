// The entry point: start-up, then one of the process's three lives.
#include <windows.h>

#include <cstdio>

#include "env/TextConv.h"
#include "launcher/CommandLine.h"
#include "launcher/Config.h"
#include "launcher/Entry.h"
#include "launcher/Fatal.h"
#include "launcher/Launch.h"
#include "launcher/Limits.h"
#include "launcher/Log.h"
#include "launcher/StartUp.h"
#include "service/ServiceRuntime.h"

namespace pelto {
int runEntry(std::u16string_view commandLine) {
  ServiceMode = true;
  startUp();
  ServiceName = getConfigStringW(101, ServiceNameRoom);
  logMessage(u"command line %s", commandLine);

  std::vector<std::u16string> argv;
  splitCommandLine(commandLine, argv);
  EntryDecision d = decideEntry(std::move(argv), verbTable());
  switch (d.route) {
    case EntryRoute::Restart:
      LaunchArguments = std::move(d.call.args);
      launch(true);
      return 0;
    case EntryRoute::ServiceNameTooLong:
      logError(u"service name after /%s too long", d.verb);
      consolePrint("The service name is too long (at most 5999 characters).\n");
      return 1;
    case EntryRoute::Verb:
      if (d.serviceNameGiven) ServiceName = d.serviceName;
      return d.handler(d.call);
    case EntryRoute::UnknownVerb:
      logError(u"unknown verb %s", d.word);
      consolePrint(wideToNarrow(unknownVerbText(d.word, moduleFileName(), verbTable())));
      return ExitUsage;
    case EntryRoute::Dispatcher: {
      if (d.serviceNameGiven) ServiceName = d.serviceName;
      int code = runServiceDispatcher();
      // Not started by the service manager: someone ran it from a console without a verb.
      if (code == DispatcherNotStartedByManager)
        consolePrint(wideToNarrow(usageText(moduleFileName(), verbTable(), false)));
      return code;
    }
  }
  return 0;
}

}  // namespace pelto
