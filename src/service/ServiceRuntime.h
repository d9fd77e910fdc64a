#pragma once
// The service process: the service main run by the dispatcher, its control handler, and the
// supervision of the child that hosts the JVM. The decisions themselves are in ServiceText.h.
#include <cstdint>
#include <string>

#ifdef _WIN32
#include <windows.h>

namespace pelto {

// Hands the process to the service control dispatcher under ServiceName; returns the exit code
// once the service has stopped and its service main has finished (or ServiceMainExitWaitMs
// have passed), or at once when the process was not started by the manager.
int runServiceDispatcher();
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
// Body of the output-consumer thread: reads and discards the child's output until it ends;
// closes the read end (a HANDLE) it was given.
DWORD WINAPI drainChildOutput(LPVOID readEnd);

// The priority class for the child from HKLM "SOFTWARE\tarnwick-labs\pelto\priority", value
// named after the service; normal priority when missing or not exactly 4 bytes.
DWORD readChildPriorityClass(const std::u16string& serviceName);

}  // namespace pelto
#endif
