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
