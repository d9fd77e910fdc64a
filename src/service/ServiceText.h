#pragma once
// The decisions of the service verbs and of the service process that need no Windows API:
// dependency lists, the child's command line, the service status record and its changes,
// the stop wait and the child's priority class.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pelto {

// Start types of the service.
constexpr std::uint32_t AutoStart = 2;
constexpr std::uint32_t DemandStart = 3;

// The start type of "install" and "install-and-start": automatic for ExecutableType 4.
std::uint32_t installStartType(long executableType);

// The ","-separated dependency names in the double-NUL form the manager takes: each name
// NUL-terminated, one more NUL at the end; empty parts are skipped. An entry without names gives
// an empty text (no dependencies). The list, both NULs included, stays within room code units;
// names that do not fit whole are left out (droppedNames counts them).
std::u16string dependencyList(std::u16string_view commaSeparated, std::size_t room,
                              std::size_t* droppedNames = nullptr);

// The child's command line: program, service name, the service process's further arguments,
// the start arguments and the restart marker, every element quoted so that the child's
// splitter gives back each one exactly (quotes, apostrophes and empty ones too). False when the
// line with its terminating NUL would not fit room (line is then left empty): a cut line would
// start the child with other arguments than the service was given.
bool buildChildCommandLine(std::u16string_view program, std::u16string_view serviceName,
                           std::span<const std::u16string> processArgs,
                           std::span<const std::u16string> startArgs, std::size_t room, std::u16string& line);

// The service name the service main runs under: its first argument when that is not empty and
// shorter than room code units, else "unknown".
std::u16string serviceNameOfStart(std::u16string_view firstArgument, bool given, std::size_t room);

// Runs a query of the kind "buffer, size in bytes, needed size" with the room it asks for: first
// without a buffer to learn the size, then with that size (in 8-byte units, so that records of
// pointers stay aligned). False when the query still fails; needed then holds its last answer.
template <class Query>
bool queryWithNeededRoom(Query query, std::vector<std::uint64_t>& buffer, std::uint32_t& needed) {
  needed = 0;
  buffer.clear();
  if (query(nullptr, 0u, needed)) return true;
  buffer.resize(needed / sizeof(std::uint64_t) + 1);
  return query(buffer.data(), static_cast<std::uint32_t>(buffer.size() * sizeof(std::uint64_t)), needed);
}

// Service states and controls as the manager numbers them.
constexpr std::uint32_t StateStopped = 1;
constexpr std::uint32_t StateStopPending = 3;
constexpr std::uint32_t StateRunning = 4;
constexpr std::uint32_t ControlStop = 1;
constexpr std::uint32_t ControlShutdown = 5;
constexpr std::uint32_t ControlPreshutdown = 15;
constexpr std::uint32_t AcceptPreshutdown = 0x100;
constexpr std::uint32_t ServiceSpecificError = 1066;
constexpr std::uint32_t ChildStartFailureCode = 5000;
// The child did not end within the stop timeout and was ended with every process it started.
constexpr std::uint32_t StopTimeoutCode = 5001;

// The service status record shared by the service main and the control handler.
struct ServiceStatusRecord {
  std::uint32_t serviceType = 0x30;
  std::uint32_t currentState = StateRunning;
  std::uint32_t controlsAccepted = 5;  // stop and shutdown; pre-shutdown too with a stop timeout
  std::uint32_t win32ExitCode = 0;
  std::uint32_t serviceSpecificExitCode = 0;
  std::uint32_t checkPoint = 0;
  std::uint32_t waitHint = 50000;
};

// What the control handler does with one control, after the record was changed.
struct ControlDecision {
  bool sendStop = false;
  int reportTag = 3;  // the number of its "SetServiceStatus %d failed" log line
};
ControlDecision applyControl(ServiceStatusRecord& record, std::uint32_t control);

// The child could not be started (or its pipes not made): stopped with the service-specific error.
void markChildStartFailure(ServiceStatusRecord& record);

// Once the child runs: true when a stop came in before its pipe existed, so the stop line is
// still owed to the child. (While a stop is pending the running state is not reported again.)
bool stopLineOwed(const ServiceStatusRecord& record, bool lineDelivered);

// The wait of the stop verb: starts at the first status seen; every later status (queried
// 500 ms apart) either keeps the wait going or ends it. A growing checkpoint starts the wait
// hint again; elapsed ticks are compared unsigned, so a wrapped tick count does not end it early.
struct StopWait {
  std::uint32_t startTick = 0;
  std::uint32_t checkPoint = 0;
};
void beginStopWait(StopWait& wait, std::uint32_t checkPoint, std::uint32_t nowTick);
bool continueStopWait(StopWait& wait, std::uint32_t state, std::uint32_t checkPoint, std::uint32_t waitHint,
                      std::uint32_t nowTick);

// Why the manager refused: a few words for the system error codes the verbs meet, then the code,
// "the service is not installed (error 1060)"; a code without words of its own is named as such.
std::string systemErrorReason(std::uint32_t error);
// A refused verb: "Could not stop service 'S': the service is not installed (error 1060).\n".
std::string verbFailureLine(std::string_view action, std::string_view serviceName, std::uint32_t error);
// How the service last stopped, for the status of a service that is not running: empty when both
// codes are 0 (or it never ran), else "It last stopped with exit code 1066 (service-specific code 7).\n".
std::string lastStopLine(std::uint32_t win32ExitCode, std::uint32_t serviceSpecificExitCode);

// The child's priority class: the registry value when it was read with exactly 4 bytes, else
// normal priority (0x20).
constexpr std::uint32_t NormalPriorityClass = 0x20;
std::uint32_t childPriorityClass(bool readOk, std::uint32_t size, std::uint32_t value);

}  // namespace pelto
