// The service process: reports running, starts the child that hosts the JVM with the restart
// marker in a job of its own, turns stop and shutdown into the stop line on its standard input
// (ending the child when a configured stop timeout passes), drains its output and reports
// stopped when it has ended.
#include <windows.h>

#include <vector>

#include "env/Extract.h"
#include "env/Handles.h"
#include "env/Paths.h"
#include "env/TextConv.h"
#include "launcher/CommandLine.h"
#include "launcher/Fatal.h"
#include "launcher/Limits.h"
#include "launcher/Log.h"
#include "service/ServiceRuntime.h"
#include "service/ServiceText.h"
#include "service/Supervision.h"

namespace pelto {
namespace {

// The control handler (main thread) and the service main (service thread) share the status
// record and the stop pipe; StateLock is their one owner, held for every read, change and
// report, so a stop at any moment of start-up meets either no pipe yet (and the service main
// delivers the line when it hands the pipe over) or the pipe, never a half-made one.
SRWLOCK StateLock = SRWLOCK_INIT;
class StateGuard {
 public:
  StateGuard() { AcquireSRWLockExclusive(&StateLock); }
  ~StateGuard() { ReleaseSRWLockExclusive(&StateLock); }
  StateGuard(const StateGuard&) = delete;
  StateGuard& operator=(const StateGuard&) = delete;
};
ServiceStatusRecord ServiceStatus;
SERVICE_STATUS_HANDLE ServiceStatusHandle = nullptr;
// The write end of the child's standard input once the child runs; only this process holds it.
UniqueHandle StopPipe;
bool StopLineDelivered = false;
// When the first stop request came in; the stop timeout counts from there.
DWORD StopRequestTick = 0;
// Set when the service main has left; the main thread waits for it before it ends the process.
HANDLE ServiceMainDone = nullptr;

// With StateLock held.
bool reportStatus() {
  SERVICE_STATUS s{};
  s.dwServiceType = ServiceStatus.serviceType;
  s.dwCurrentState = ServiceStatus.currentState;
  s.dwControlsAccepted = ServiceStatus.controlsAccepted;
  s.dwWin32ExitCode = ServiceStatus.win32ExitCode;
  s.dwServiceSpecificExitCode = ServiceStatus.serviceSpecificExitCode;
  s.dwCheckPoint = ServiceStatus.checkPoint;
  s.dwWaitHint = ServiceStatus.waitHint;
  return SetServiceStatus(ServiceStatusHandle, &s) != 0;
}

void reportChildStartFailure(const SupervisionSettings& settings, const std::u16string& reason) {
  writeServiceEvent(ServiceName, settings.eventLog,
                    serviceEventEntry(ServiceEvent::ChildStartFailed, reason));
  StateGuard guard;
  markChildStartFailure(ServiceStatus);
  if (!reportStatus()) logError(u"SetServiceStatus failed %d", static_cast<int>(GetLastError()));
}

std::u16string errorText(const char16_t* what, DWORD error) {
  return what + (u" (error " + utf8ToUtf16(std::to_string(error)) + u")");
}

struct ChildPipes {
  UniqueHandle outRead, outWrite, inRead, inWrite;
};

bool createPipes(ChildPipes& p) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE r = nullptr, w = nullptr;
  if (!CreatePipe(&r, &w, &sa, 0)) {
    logError(u"CreatePipe error (%d)", static_cast<int>(GetLastError()));
    return false;
  }
  p.outRead.reset(r);
  p.outWrite.reset(w);
  if (!SetHandleInformation(p.outRead.get(), HANDLE_FLAG_INHERIT, 0)) {
    logError(u"SetHandleInformation error (%d)", static_cast<int>(GetLastError()));
    return false;
  }
  if (!CreatePipe(&r, &w, &sa, 0)) {
    logError(u"CreatePipe error 2 (%d)", static_cast<int>(GetLastError()));
    return false;
  }
  p.inRead.reset(r);
  p.inWrite.reset(w);
  if (!SetHandleInformation(p.inWrite.get(), HANDLE_FLAG_INHERIT, 0)) {
    logError(u"SetHandleInformation error 2 (%d)", static_cast<int>(GetLastError()));
    return false;
  }
  return true;
}

}  // namespace

DWORD readChildPriorityClass(const std::u16string& serviceName) {
  UniqueHKey key;
  DWORD value = 0, size = sizeof value;
  bool ok = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\tarnwick-labs\\pelto\\priority", 0, KEY_READ,
                          key.put()) == ERROR_SUCCESS;
  if (ok) {
    std::wstring name = asW(serviceName);
    ok = RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                          &size) == ERROR_SUCCESS;
  }
  DWORD priority = childPriorityClass(ok, size, value);
  if (ok && size == sizeof value) logMessage(u"using priority %d", static_cast<int>(priority));
  return priority;
}

BOOL WINAPI consoleControlHandler(DWORD) {
  logMessage(u"ConsoleCtrlHandler event");
  return TRUE;
}

namespace {

// With StateLock held: the stop line goes to the child, whose standard input then ends. Without
// a pipe (none yet, or one closed by an earlier request) the write fails and is logged.
void sendStopLineLocked() {
  logMessage(u"sending shutdown1 %d", 0);
  const char line[] = "0\n";
  DWORD written = 0;
  if (!WriteFile(StopPipe.get(), line, 2, &written, nullptr)) {
    logError(u"sending shutdown failed");
    logError(u"error code %d", static_cast<int>(GetLastError()));
  } else {
    StopLineDelivered = true;
  }
  StopPipe.reset();
  logMessage(u"shutdown sent");
}

}  // namespace

void sendStopRequest() {
  StateGuard guard;
  sendStopLineLocked();
}

void handOverStopPipe(HANDLE writeEnd) {
  StateGuard guard;
  StopPipe.reset(writeEnd);
  if (stopLineOwed(ServiceStatus, StopLineDelivered)) {
    // A stop came while the child was being started: the child gets its line now.
    sendStopLineLocked();
  } else if (ServiceStatus.currentState == StateRunning) {
    reportStatus();
  }
}

void markServiceMainDone() {
  if (ServiceMainDone) SetEvent(ServiceMainDone);
}

void awaitServiceMain(DWORD ms) {
  if (ServiceMainDone) WaitForSingleObject(ServiceMainDone, ms);
}

void WINAPI serviceControlHandler(DWORD control) {
  logMessage(u"control handler request %d", static_cast<int>(control));
  StateGuard guard;
  bool firstStop = ServiceStatus.currentState != StateStopPending;
  ControlDecision d = applyControl(ServiceStatus, control);
  if (d.sendStop && firstStop) StopRequestTick = GetTickCount();
  if (!reportStatus())
    logError(u"SetServiceStatus %d failed %d", d.reportTag, static_cast<int>(GetLastError()));
  if (d.sendStop) sendStopLineLocked();
}

namespace {

// With StateLock held and a stop pending: one more step of the stop, so the manager waits on.
void reportStopProgressLocked() {
  ++ServiceStatus.checkPoint;
  ServiceStatus.waitHint = StopProgressWaitHintMs;
  if (!reportStatus()) logError(u"SetServiceStatus 11 failed %d", static_cast<int>(GetLastError()));
}

// Waits for the child. With a stop timeout, a pending stop is reported every second with an
// advancing checkpoint until the child ends or its time is up; true when it is up.
bool waitForChild(HANDLE process, std::uint32_t stopTimeoutMs) {
  while (WaitForSingleObject(process, stopTimeoutMs ? StopProgressPeriodMs : INFINITE) == WAIT_TIMEOUT) {
    StateGuard guard;
    if (ServiceStatus.currentState != StateStopPending) continue;
    if (stopTimeIsUp(stopTimeoutMs, StopRequestTick, GetTickCount())) return true;
    reportStopProgressLocked();
  }
  return false;
}

// The child and every process it started, ended with the stop-timeout code.
void endChildAndItsProcesses(HANDLE job, HANDLE process, std::uint32_t stopTimeoutMs) {
  logError(u"the child did not end within %d ms of the stop request; ending it and every process it started",
           static_cast<int>(stopTimeoutMs));
  if (!job || !TerminateJobObject(job, StopTimeoutCode)) {
    logError(u"TerminateJobObject failed (%d); ending the child alone", static_cast<int>(GetLastError()));
    TerminateProcess(process, StopTimeoutCode);
  }
  WaitForSingleObject(process, StopProgressWaitHintMs);
  StateGuard guard;
  // Only while stop pending: the stopped state that follows carries no error, so that the
  // manager's recovery never restarts a service an operator stopped.
  ServiceStatus.win32ExitCode = ServiceSpecificError;
  ServiceStatus.serviceSpecificExitCode = StopTimeoutCode;
  reportStopProgressLocked();
}

void runServiceMain(DWORD argc, LPWSTR* argv) {
  logMessage(u"service main");
  const SupervisionSettings settings = readSupervisionSettings();
  {
    StateGuard guard;
    ServiceStatus = ServiceStatusRecord{};
    // The system's shutdown gives the child its stop timeout too.
    if (settings.stopTimeoutMs) ServiceStatus.controlsAccepted |= AcceptPreshutdown;
    StopLineDelivered = false;
  }
  std::u16string first = (argc > 0 && argv[0]) ? asU(argv[0]) : std::u16string();
  ServiceName = serviceNameOfStart(first, argc > 0 && argv[0], ServiceNameRoom);
  logMessage(u"service name is '%s'", ServiceName);

  std::wstring name = asW(ServiceName);
  SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerW(name.c_str(), serviceControlHandler);
  if (!handle) return;
  {
    StateGuard guard;
    ServiceStatusHandle = handle;
    reportStatus();
  }

  std::vector<std::u16string> own;
  splitCommandLine(asU(GetCommandLineW()), own);
  std::u16string program = own.empty() ? std::u16string() : own.front();
  std::vector<std::u16string> processArgs(own.size() > 1 ? own.begin() + 1 : own.end(), own.end());
  std::vector<std::u16string> startArgs;
  for (DWORD i = 1; i < argc; ++i) startArgs.push_back(asU(argv[i]));
  std::u16string line;
  if (!buildChildCommandLine(program, ServiceName, processArgs, startArgs, ChildCommandRoom, line)) {
    logError(u"the child's command line would not fit %d characters", static_cast<int>(ChildCommandRoom));
    reportChildStartFailure(settings, u"its command line is too long");
    return;
  }

  ChildPipes pipes;
  if (!createPipes(pipes)) {
    reportChildStartFailure(settings, u"its pipes cannot be made");
    return;
  }
  DWORD priority = readChildPriorityClass(ServiceName);
  std::u16string environment;
  bool ownEnvironment = childEnvironment(settings.environment, environment);
  UniqueHandle job = createChildJob(settings.killOnSupervisorExit);
  if (!job && childNeedsJob(settings)) {
    reportChildStartFailure(settings, errorText(u"its job cannot be made", GetLastError()));
    return;
  }

  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = pipes.inRead.get();
  si.hStdOutput = pipes.outWrite.get();
  si.hStdError = pipes.outWrite.get();
  PROCESS_INFORMATION pi{};
  std::wstring commandLine = asW(line);
  // Suspended until it is in its job, so that nothing it starts escapes the job.
  DWORD flags =
      priority | DETACHED_PROCESS | CREATE_SUSPENDED | (ownEnvironment ? CREATE_UNICODE_ENVIRONMENT : 0);
  // The child is this very executable, named as the program: no part of its quoted path on the
  // command line can be taken for another program.
  const std::wstring self = asW(getExecutablePathWide());
  if (!CreateProcessW(self.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags,
                      ownEnvironment ? environment.data() : nullptr, nullptr, &si, &pi)) {
    DWORD error = GetLastError();
    logError(u"could not start process %s (%d)", line, static_cast<int>(error));
    reportChildStartFailure(settings, errorText(u"CreateProcess failed", error));
    return;
  }
  UniqueHandle process(pi.hProcess), thread(pi.hThread);
  if (job && !AssignProcessToJobObject(job.get(), process.get())) {
    DWORD error = GetLastError();
    logError(u"AssignProcessToJobObject failed (%d)", static_cast<int>(error));
    job.reset();
    if (childNeedsJob(settings)) {
      // Still suspended: it never ran outside the job it was promised.
      TerminateProcess(process.get(), ChildStartFailureCode);
      reportChildStartFailure(settings, errorText(u"it cannot be put in its job", error));
      return;
    }
  }
  ResumeThread(thread.get());
  pipes.outWrite.reset();
  pipes.inRead.reset();
  auto* capture = new OutputCapture{pipes.outRead.release(), settings.outputFile, settings.maxSize,
                                    settings.keep,           settings.eventLog,   ServiceName};
  UniqueHandle consumer(CreateThread(nullptr, 0, drainChildOutput, capture, 0, nullptr));
  if (!consumer) {
    CloseHandle(capture->readEnd);
    delete capture;
  }
  handOverStopPipe(pipes.inWrite.release());
  logMessage(u"registering ConsoleCtrlHandler");
  SetConsoleCtrlHandler(consoleControlHandler, TRUE);

  bool timedOut = waitForChild(process.get(), settings.stopTimeoutMs);
  if (timedOut) endChildAndItsProcesses(job.get(), process.get(), settings.stopTimeoutMs);
  DWORD exitCode = 0;
  if (!GetExitCodeProcess(process.get(), &exitCode)) exitCode = 0;
  logMessage(u"process terminated with exit code %d", static_cast<int>(exitCode));
  const DWORD endTick = GetTickCount();
  removeEndedLaunchFolders();  // the child's per-launch folder, now that nothing holds its files
  // What the child wrote last is still in the pipe: give the file a moment to take it.
  if (consumer && !settings.outputFile.empty()) WaitForSingleObject(consumer.get(), StopProgressWaitHintMs);
  bool stopPending = false;
  {
    StateGuard guard;
    stopPending = ServiceStatus.currentState == StateStopPending;
  }
  ChildEndReport end = childEndReport(exitCode, stopPending, timedOut, settings.recovery);
  for (const EventEntry& e : childEndEvents(exitCode, stopPending, timedOut, settings.stopTimeoutMs, end))
    writeServiceEvent(ServiceName, settings.eventLog, e);
  if (end.reportStopped) {
    if (timedOut) {
      DWORD shown = GetTickCount() - endTick;
      if (shown < StopTimeoutMarkMs) Sleep(StopTimeoutMarkMs - shown);
    }
    StateGuard guard;
    ServiceStatus.currentState = StateStopped;
    ServiceStatus.win32ExitCode = end.win32ExitCode;
    ServiceStatus.serviceSpecificExitCode = end.serviceSpecificExitCode;
    if (!reportStatus()) logError(u"SetServiceStatus 10 failed %d", static_cast<int>(GetLastError()));
    logMessage(u"service stopped set");
  }
  process.reset();
  thread.reset();
  logMessage(u"exiting");
  exitLauncher(0);
}

}  // namespace

void WINAPI serviceMain(DWORD argc, LPWSTR* argv) {
  runServiceMain(argc, argv);
  markServiceMainDone();
}

int runServiceDispatcher(ServiceDispatcher dispatch) {
  std::wstring name = asW(ServiceName);
  SERVICE_TABLE_ENTRYW table[] = {{name.data(), serviceMain}, {nullptr, nullptr}};
  // Never closed: after a timed-out wait the service thread may still set it.
  ServiceMainDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  logMessage(u"calling StartServiceCtrlDispatcher");
  int code = 0;
  if (!dispatch(table)) {
    DWORD error = GetLastError();
    logMessage(u"StartServiceCtrlDispatcher failed with error %d", static_cast<int>(error));
    code = error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT ? DispatcherNotStartedByManager : 1;
  } else {
    // The dispatcher returns once the manager has the stopped state, while the service main may
    // still be writing its last lines; it ends the process itself when it is through.
    awaitServiceMain(ServiceMainExitWaitMs);
  }
  logMessage(u"StartServiceCtrlDispatcher returned");
  return code;
}

}  // namespace pelto
