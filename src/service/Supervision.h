#pragma once
// The decisions of the service process's optional supervision that need no Windows API: what
// the configuration asks for, the bounded stop, the final status after the child has ended, the
// child's environment block, the rolling of the captured output, the event-log entries of a
// course of events and the status verb's running time. Without any of the entries the service
// process behaves as it always did.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pelto {

// Hostile numbers are cut to these: more kept files or environment entries than this is no
// configuration anyone means.
constexpr unsigned MaxKeptLogFiles = 1000;
constexpr long MaxEnvironmentEntries = 1000;

struct SupervisionSettings {
  std::uint32_t stopTimeoutMs = 0;  // 0: wait for the child without a limit
  bool killOnSupervisorExit = false;
  bool recovery = false;
  bool eventLog = false;
  std::u16string outputFile;  // as configured, relative to the executable's folder; empty: discard
  std::uint64_t maxSize = 0;  // 0: the file never rolls
  unsigned keep = 0;          // rolled files kept beside it
  std::vector<std::u16string> environment;  // "NAME=value", unexpanded
};
// From the configuration tables.
SupervisionSettings readSupervisionSettings();

// A decimal number of the configuration: digits only, saturated at max; anything else is 0.
std::uint64_t configNumber(std::string_view text, std::uint64_t max);

// While a stop is pending the service process reports progress this often, with this wait hint
// (two periods, so that one late report does not make the manager give up).
constexpr std::uint32_t StopProgressPeriodMs = 1000;
constexpr std::uint32_t StopProgressWaitHintMs = 2000;
// Whether the child has had its time since the stop request; ticks compare unsigned, so a
// wrapped tick count neither ends the wait early nor extends it.
bool stopTimeIsUp(std::uint32_t stopTimeoutMs, std::uint32_t stopTick, std::uint32_t nowTick);
// Once the child was ended after the stop timeout the stop pending state carries the stop-timeout
// code (1066, StopTimeoutCode) this long before the stopped state, so that the stop verb, which
// looks every 500 ms, sees it and can say so.
constexpr std::uint32_t StopTimeoutMarkMs = 1500;
// The child must run in a job when the configuration counts on the job: ending it with the
// service process, or ending its processes after the stop timeout. Elsewhere a job is a bonus.
bool childNeedsJob(const SupervisionSettings& settings);

// The final status once the child has ended.
struct ChildEndReport {
  bool reportStopped = false;
  std::uint32_t win32ExitCode = 0;
  std::uint32_t serviceSpecificExitCode = 0;
};
// Asked to stop (a stop, a shutdown, also one that outlasted the stop timeout) or exit code 0:
// stopped without an error, so the manager never applies failure actions to a service an
// operator stopped. A failure on its own (non-zero, no stop): stopped with the child's code as
// service-specific error when recovery is configured, so the manager applies its failure
// actions; else nothing is reported.
ChildEndReport childEndReport(std::uint32_t childExitCode, bool stopPending, bool stopTimedOut,
                              bool recovery);

// The child's environment: the service's own entries with the additions over them (a name
// matches whatever the case of its ASCII letters), sorted by upper-cased name as Windows
// expects, each entry NUL-terminated and one more NUL at the end. Additions without a name or
// without "=" are left out and counted in skipped.
std::u16string environmentBlock(std::span<const std::u16string> current,
                                std::span<const std::u16string> additions, std::size_t* skipped = nullptr);
// The name of an entry "NAME=value" (a leading "=" belongs to the name, as in "=C:=C:\").
std::u16string_view environmentName(std::u16string_view entry);

// The captured output file. The configured text may hold "{service}", which becomes the name
// the service runs under, so that services of one executable keep apart.
std::u16string expandServiceName(std::u16string_view configured, std::u16string_view serviceName);
// Why a relative file name (either slash) could lead out of the folder it is relative to, or
// nullptr when it cannot: no drive, stream or leading slash, no component of dots and spaces
// only (Windows reads "..", ". ." and "..." alike), no trailing slash.
const char* outputPathFault(std::u16string_view relative);
// The file below folder (which ends with a separator): the configured text expanded, slashes
// made backslashes, empty components dropped. Empty, with why set, when outputPathFault refuses
// the expanded text.
std::u16string capturedOutputPath(std::u16string_view configured, std::u16string_view serviceName,
                                  std::u16string_view folder, const char*& why);
// Rolled file n of "logs\service.log" is "logs\service.n.log" (the newest rolled file is 1); a
// name without an extension gets ".n" at its end.
std::u16string rolledLogName(std::u16string_view path, unsigned n);
// One roll. The live file moves first, to a name of its own ("service.log.rolling"); only once
// it has moved is the oldest kept file deleted (to empty), each rolled file moved up one and the
// moved file made number 1, so a live file that cannot move (a reader holds it without delete
// sharing) leaves every kept file as it was. Without kept files the live file is deleted.
struct RollStep {
  std::u16string from, to;
};
std::vector<RollStep> rollSteps(std::u16string_view path, unsigned keep);
// After a failed roll the file grows past its size for this long before the next attempt.
constexpr std::uint32_t RollRetryMs = 60000;
bool rollAttemptDue(bool lastRollFailed, std::uint32_t failedTick, std::uint32_t nowTick);
// How many of the pending bytes go into the current file now; rollFirst when the file is full.
// A file never grows past maxSize (0: never rolls).
std::size_t nextOutputWrite(std::uint64_t fileSize, std::size_t pending, std::uint64_t maxSize,
                            bool& rollFirst);

// Entries of the Application event log, under the service's name as source.
enum class ServiceEvent {
  Started,
  Stopped,
  ChildEnded,
  ChildStartFailed,
  StopTimedOut,
  NoJavaRuntime,
  OutputFailed,
  RollFailed,
  AnotherInstance
};
constexpr std::uint16_t EventError = 1, EventWarning = 2, EventInformation = 4;
struct EventEntry {
  std::uint16_t type = EventInformation;
  std::uint32_t id = 0;
  std::u16string text;
  bool operator==(const EventEntry&) const = default;
};
// detail: the runtime's home and version ("HOME, version V") for Started, the reason for
// ChildStartFailed, the file and error for OutputFailed and RollFailed; code: the exit code of ChildEnded and
// Stopped, the timeout of StopTimedOut,
// the other instance's process id of AnotherInstance.
EventEntry serviceEventEntry(ServiceEvent event, std::u16string_view detail = {}, std::uint64_t code = 0);
// What the service process writes once its child has ended: the timed-out stop or the child's
// end, then the stop when it is reported.
std::vector<EventEntry> childEndEvents(std::uint32_t childExitCode, bool stopPending, bool stopTimedOut,
                                       std::uint32_t stopTimeoutMs, const ChildEndReport& report);

// The service process's child among the system's processes, for the status verb: a process
// whose parent is the service process, created after it (a process id can be used again, so an
// older process naming that id as parent was started by someone else), running this very
// executable. 0 when there is none.
struct ProcessFacts {
  std::uint32_t pid = 0, parentPid = 0;
  std::uint64_t created = 0;  // creation time, in the system's 100 ns units
  bool sameImage = false;     // its image is this executable
};
std::uint32_t serviceChildOf(std::span<const ProcessFacts> processes, std::uint32_t servicePid,
                             std::uint64_t serviceCreated);

// The status verb's line for the running child: "Child process 1234, running for 1d 02:03:04.\n"
// (the days only when there are any).
std::string childStatusLine(std::uint32_t pid, std::uint64_t seconds);

}  // namespace pelto
