// The service process: reports running, starts the child that hosts the JVM with the restart
// marker, turns stop and shutdown into the stop line on its standard input, drains its output
// and reports stopped when it has ended.
#include <windows.h>

#include <vector>

#include "env/Extract.h"
#include "env/Handles.h"
#include "env/TextConv.h"
#include "launcher/CommandLine.h"
#include "launcher/Fatal.h"
#include "launcher/Limits.h"
#include "launcher/Log.h"
#include "service/ServiceRuntime.h"
#include "service/ServiceText.h"

namespace pelto {
namespace {

// Written by the service main and the control handler; every report sends the whole record.
ServiceStatusRecord ServiceStatus;
SERVICE_STATUS_HANDLE ServiceStatusHandle = nullptr;
// The write end of the child's standard input; only this process holds it.
UniqueHandle StopPipe;
bool StopLineDelivered = false;

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

void reportChildStartFailure() {
  markChildStartFailure(ServiceStatus);
  if (!reportStatus()) logError(u"SetServiceStatus failed %d", static_cast<int>(GetLastError()));
}

struct ChildPipes {
  UniqueHandle outRead, outWrite, inRead;
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
  StopPipe.reset(w);
  if (!SetHandleInformation(StopPipe.get(), HANDLE_FLAG_INHERIT, 0)) {
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

DWORD WINAPI drainChildOutput(LPVOID readEnd) {
  UniqueHandle pipe(static_cast<HANDLE>(readEnd));
  logMessage(u"consuming output");
  std::vector<char> chunk(TextRoom);
  DWORD got = 0;
  while (ReadFile(pipe.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) && got > 0) {
  }
  logMessage(u"consuming output done");
  return 0;
}

void sendStopRequest() {
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

void WINAPI serviceControlHandler(DWORD control) {
  logMessage(u"control handler request %d", static_cast<int>(control));
  ControlDecision d = applyControl(ServiceStatus, control);
  if (!reportStatus())
    logError(u"SetServiceStatus %d failed %d", d.reportTag, static_cast<int>(GetLastError()));
  if (d.sendStop) sendStopRequest();
}

void WINAPI serviceMain(DWORD argc, LPWSTR* argv) {
  logMessage(u"service main");
  ServiceStatus = ServiceStatusRecord{};
  std::u16string first = (argc > 0 && argv[0]) ? asU(argv[0]) : std::u16string();
  ServiceName = serviceNameOfStart(first, argc > 0 && argv[0], ServiceNameRoom);
  logMessage(u"service name is '%s'", ServiceName);

  std::wstring name = asW(ServiceName);
  ServiceStatusHandle = RegisterServiceCtrlHandlerW(name.c_str(), serviceControlHandler);
  if (!ServiceStatusHandle) return;
  reportStatus();

  std::vector<std::u16string> own;
  splitCommandLine(asU(GetCommandLineW()), own);
  std::u16string program = own.empty() ? std::u16string() : own.front();
  std::vector<std::u16string> processArgs(own.size() > 1 ? own.begin() + 1 : own.end(), own.end());
  std::vector<std::u16string> startArgs;
  for (DWORD i = 1; i < argc; ++i) startArgs.push_back(asU(argv[i]));
  std::u16string line;
  if (!buildChildCommandLine(program, ServiceName, processArgs, startArgs, ChildCommandRoom, line)) {
    logError(u"the child's command line would not fit %d characters", static_cast<int>(ChildCommandRoom));
    reportChildStartFailure();
    return;
  }

  ChildPipes pipes;
  if (!createPipes(pipes)) {
    StopPipe.reset();
    reportChildStartFailure();
    return;
  }
  DWORD priority = readChildPriorityClass(ServiceName);

  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = pipes.inRead.get();
  si.hStdOutput = pipes.outWrite.get();
  si.hStdError = pipes.outWrite.get();
  PROCESS_INFORMATION pi{};
  std::wstring commandLine = asW(line);
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, priority | DETACHED_PROCESS,
                      nullptr, nullptr, &si, &pi)) {
    logError(u"could not start process %s (%d)", line, static_cast<int>(GetLastError()));
    StopPipe.reset();
    reportChildStartFailure();
    return;
  }
  UniqueHandle process(pi.hProcess), thread(pi.hThread);
  pipes.outWrite.reset();
  pipes.inRead.reset();
  HANDLE readEnd = pipes.outRead.release();
  UniqueHandle consumer(CreateThread(nullptr, 0, drainChildOutput, readEnd, 0, nullptr));
  if (!consumer) CloseHandle(readEnd);
  if (ServiceStatus.currentState != StateStopPending) {
    reportStatus();
  } else if (stopLineOwed(ServiceStatus, StopLineDelivered)) {
    // A stop came before the pipe existed: the child gets its line now.
    sendStopRequest();
  }
  logMessage(u"registering ConsoleCtrlHandler");
  SetConsoleCtrlHandler(consoleControlHandler, TRUE);

  WaitForSingleObject(process.get(), INFINITE);
  DWORD exitCode = 0;
  if (!GetExitCodeProcess(process.get(), &exitCode)) exitCode = 0;
  logMessage(u"process terminated with exit code %d", static_cast<int>(exitCode));
  removeEndedLaunchFolders();  // the child's per-launch folder, now that nothing holds its files
  if (reportStoppedAfterChild(exitCode, ServiceStatus)) {
    ServiceStatus.currentState = StateStopped;
    if (!reportStatus()) logError(u"SetServiceStatus 10 failed %d", static_cast<int>(GetLastError()));
    logMessage(u"service stopped set");
  }
  process.reset();
  thread.reset();
  logMessage(u"exiting");
  exitLauncher(0);
}

}  // namespace pelto
