#pragma once
// The service process: the service main run by the dispatcher, its control handler, and the
// supervision of the child that hosts the JVM. The decisions themselves are in ServiceText.h.
#include <cstdint>
#include <span>
#include <string>

#ifdef _WIN32
#include <windows.h>

#include "env/Handles.h"
#include "service/Supervision.h"

namespace pelto {

// Hands the process to the service control dispatcher under ServiceName; returns the exit code
// once the service has stopped and its service main has finished (or ServiceMainExitWaitMs
// have passed): 0; DispatcherNotStartedByManager when the manager did not start the process, 1
// when the dispatcher failed otherwise. The dispatcher is a parameter so that a test can stand in
// for the manager.
constexpr int DispatcherNotStartedByManager = 2;  // the launcher's exit code for a wrong command line
using ServiceDispatcher = BOOL(WINAPI*)(const SERVICE_TABLE_ENTRYW* table);
int runServiceDispatcher(ServiceDispatcher dispatch = StartServiceCtrlDispatcherW);
constexpr DWORD ServiceMainExitWaitMs = 10000;

void WINAPI serviceMain(DWORD argc, LPWSTR* argv);
void WINAPI serviceControlHandler(DWORD control);
// Writes the stop line "0" to the child and closes its standard input.
void sendStopRequest();
// Gives the write end of the running child's standard input to the service state: the line goes
// out at once when a stop came in while the child was being started, else the running state is
// reported again.
void handOverStopPipe(HANDLE writeEnd);
// The service main's end, seen from the main thread: set on every return of the service main.
void markServiceMainDone();
void awaitServiceMain(DWORD ms);
// Reports every console event as handled, so that a log-off does not end the process.
BOOL WINAPI consoleControlHandler(DWORD event);
// Body of the output-consumer thread, given an OutputCapture it owns: reads the child's output
// until it ends, writing it to the capture's file when there is one (else it is discarded);
// closes the read end.
struct OutputCapture {
  HANDLE readEnd = nullptr;
  std::u16string path;  // as configured; empty: discard
  std::uint64_t maxSize = 0;
  unsigned keep = 0;
  bool eventLog = false;
  std::u16string serviceName;
};
DWORD WINAPI drainChildOutput(LPVOID capture);

// The optional supervision (Supervision.h) carried out.
// One entry in the Application event log under source, when on; also logged as "event: ...".
void writeServiceEvent(std::u16string_view source, bool on, const EventEntry& entry);
// From the service's child: its event (Started, NoJavaRuntime, AnotherInstance) with the chosen
// runtime and the event's number.
void reportChildServiceEvent(ServiceEvent event, std::uint64_t code = 0);
// The job the child runs in from its start; with killOnClose the job ends the child and what it
// started when this process ends. Invalid (and logged, the error kept) when it cannot be made as
// asked.
UniqueHandle createChildJob(bool killOnClose);
// The child's environment block: this process's environment with the additions, their values
// expanded. False when there are no additions (the child then inherits the environment as is).
bool childEnvironment(std::span<const std::u16string> additions, std::u16string& block);

// The priority class for the child from HKLM "SOFTWARE\tarnwick-labs\pelto\priority", value
// named after the service; normal priority when missing or not exactly 4 bytes.
DWORD readChildPriorityClass(const std::u16string& serviceName);

}  // namespace pelto
#endif
