#include "service/ServiceText.h"

#include "launcher/CommandLine.h"

namespace pelto {

std::uint32_t installStartType(long executableType) {
  return executableType == 4 ? AutoStart : DemandStart;
}

std::u16string dependencyList(std::u16string_view commaSeparated, std::size_t room,
                              std::size_t* droppedNames) {
  std::u16string list;
  std::size_t dropped = 0;
  std::size_t pos = 0;
  while (pos <= commaSeparated.size()) {
    std::size_t comma = commaSeparated.find(u',', pos);
    if (comma == std::u16string_view::npos) comma = commaSeparated.size();
    std::u16string_view name = commaSeparated.substr(pos, comma - pos);
    if (!name.empty()) {
      // The name, its NUL and the closing NUL of the list must fit.
      if (list.size() + name.size() + 2 <= room) {
        list.append(name);
        list.push_back(u'\0');
      } else {
        ++dropped;
      }
    }
    pos = comma + 1;
  }
  if (!list.empty()) list.push_back(u'\0');
  if (droppedNames) *droppedNames = dropped;
  return list;
}

bool buildChildCommandLine(std::u16string_view program, std::u16string_view serviceName,
                           std::span<const std::u16string> processArgs,
                           std::span<const std::u16string> startArgs, std::size_t room,
                           std::u16string& line) {
  line = quoteArgument(program);
  line += u' ';
  line += quoteArgument(serviceName);
  for (const std::u16string& a : processArgs) {
    line += u' ';
    line += quoteArgument(a);
  }
  for (const std::u16string& a : startArgs) {
    line += u' ';
    line += quoteArgument(a);
  }
  line += u' ';
  line += RestartMarker;
  if (line.size() + 1 > room) {
    line.clear();
    return false;
  }
  return true;
}

std::u16string serviceNameOfStart(std::u16string_view firstArgument, bool given, std::size_t room) {
  if (!given || firstArgument.empty() || firstArgument.size() >= room) return u"unknown";
  return std::u16string(firstArgument);
}

ControlDecision applyControl(ServiceStatusRecord& record, std::uint32_t control) {
  ControlDecision d;
  if (control == ControlStop) {
    record.currentState = StateStopPending;
    d.sendStop = true;
    d.reportTag = 2;
  } else if (control == ControlShutdown || control == ControlPreshutdown) {
    ++record.checkPoint;
    record.currentState = StateStopPending;
    d.sendStop = true;
    d.reportTag = 1;
  }
  return d;
}

void markChildStartFailure(ServiceStatusRecord& record) {
  record.currentState = StateStopped;
  record.win32ExitCode = ServiceSpecificError;
  record.serviceSpecificExitCode = ChildStartFailureCode;
}

bool stopLineOwed(const ServiceStatusRecord& record, bool lineDelivered) {
  return record.currentState == StateStopPending && !lineDelivered;
}

void beginStopWait(StopWait& wait, std::uint32_t checkPoint, std::uint32_t nowTick) {
  wait.startTick = nowTick;
  wait.checkPoint = checkPoint;
}

bool continueStopWait(StopWait& wait, std::uint32_t state, std::uint32_t checkPoint, std::uint32_t waitHint,
                      std::uint32_t nowTick) {
  if (state != StateStopPending) return false;
  if (checkPoint > wait.checkPoint) {
    beginStopWait(wait, checkPoint, nowTick);
    return true;
  }
  return static_cast<std::uint32_t>(nowTick - wait.startTick) <= waitHint;
}

namespace {

struct ErrorReason {
  std::uint32_t code;
  const char* words;
};
// The codes the manager gives the verbs, in the words an operator can act on.
constexpr ErrorReason ErrorReasons[] = {
    {2, "the file was not found"},
    {5, "access denied: run from an administrator console"},
    {87, "a parameter was refused"},
    {123, "the name is not valid"},
    {124, "this system does not support that setting"},
    {127, "this system does not offer that setting"},
    {232, "the service process does not answer (it may have been ended)"},
    {1051, "other running services depend on it"},
    {1052, "the service does not accept that request now"},
    {1053, "the service did not answer in time"},
    {1055, "the service database is locked"},
    {1056, "the service is already running"},
    {1057, "the account name is not valid or does not exist, or the password is wrong"},
    {1058, "the service is disabled"},
    {1059, "its dependencies form a circle"},
    {1060, "the service is not installed"},
    {1061, "the service cannot take requests now"},
    {1062, "the service is not running"},
    {1065, "the service database does not exist"},
    {1068, "a service it depends on could not start"},
    {1069,
     "the service could not log on with its account (wrong password, or no right to log on as a service)"},
    {1072,
     "the service is marked for deletion: close the Services console and every tool that holds it, then try "
     "again"},
    {1073, "a service of that name exists already"},
    {1075, "a service it depends on does not exist"},
    {1078, "another service uses that display name"},
    {1115, "the system is shutting down"},
    {1326, "the account name or password is wrong"},
    {1332, "no such account"},
    {1385, "the account may not log on as a service"},
};

}  // namespace

std::string systemErrorReason(std::uint32_t error) {
  const char* words = "system error";
  for (const ErrorReason& r : ErrorReasons)
    if (r.code == error) words = r.words;
  return std::string(words) + " (error " + std::to_string(error) + ")";
}

std::string verbFailureLine(std::string_view action, std::string_view serviceName, std::uint32_t error) {
  std::string line = "Could not ";
  line += action;
  line += " service '";
  line += serviceName;
  return line + "': " + systemErrorReason(error) + ".\n";
}

std::string lastStopLine(std::uint32_t win32ExitCode, std::uint32_t serviceSpecificExitCode) {
  // 1077: the manager's code for a service that has not run since it was installed.
  if ((win32ExitCode == 0 || win32ExitCode == 1077) && serviceSpecificExitCode == 0) return {};
  std::string line = "It last stopped with exit code " + std::to_string(win32ExitCode);
  if (serviceSpecificExitCode)
    line += " (service-specific code " + std::to_string(serviceSpecificExitCode) + ")";
  return line + ".\n";
}

std::uint32_t childPriorityClass(bool readOk, std::uint32_t size, std::uint32_t value) {
  if (!readOk || size != 4) return NormalPriorityClass;
  // The value is joined to the child's creation flags: anything but one priority class would
  // smuggle in other flags (0x4 starts the child suspended, and the service never runs).
  switch (value) {
    case 0x40:    // idle
    case 0x4000:  // below normal
    case 0x20:    // normal
    case 0x8000:  // above normal
    case 0x80:    // high
    case 0x100:   // realtime
      return value;
    default:
      return NormalPriorityClass;
  }
}

}  // namespace pelto
