#pragma once
// The service process: the service main run by the dispatcher, its control handler, and the
// supervision of the child that hosts the JVM. The decisions themselves are in ServiceText.h.
#include <cstdint>
#include <string>

#ifdef _WIN32
#include <windows.h>

namespace pelto {

void WINAPI serviceMain(DWORD argc, LPWSTR* argv);
void WINAPI serviceControlHandler(DWORD control);
// Writes the stop line "0" to the child and closes its standard input.
void sendStopRequest();
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
