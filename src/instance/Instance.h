#pragma once
// At most one running instance per executable (unless configured otherwise).
#include <cstdint>
#include <string>
#include <string_view>

namespace pelto {

// Set by setUpSingleInstance; empty until then. Passed to the JVM as pelto.semaphoreName.
extern std::string InstanceSemaphoreName;

// The key of the process-id values under HKEY_CURRENT_USER (both flavours).
constexpr const char* InstancePidKey = "SOFTWARE\\tarnwick-labs\\pelto\\pids\\";

// A service's child that gives way to another instance ends with this code, so that the
// service does not look cleanly stopped.
constexpr std::uint32_t AnotherInstanceExitCode = 5002;

// Returns in multi-instance mode and for the first instance; a second instance in
// single-instance mode ends the process with exit code 0, or as a service's child (serviceChild)
// with AnotherInstanceExitCode after an event-log entry.
void setUpSingleInstance(bool serviceChild = false);

// The executable's full narrow path, lower-cased: the same for every spelling of the path.
std::string executableIdentity();

// The process id of this process under the identity in InstancePidKey; failures are ignored.
void writeInstancePid();
// The number stored under the identity, 0 when there is none or it is no REG_DWORD.
std::uint32_t readInstancePid();
// The same for any key and value name (tests use their own).
void writeInstancePid(std::string_view key, std::string_view valueName, std::uint32_t pid);
std::uint32_t readInstancePid(std::string_view key, std::string_view valueName);

// Brings every visible top-level window of the process to the front, restoring minimised ones
// when restore is set.
void activateProcessWindows(std::uint32_t processId, bool restore);

#ifdef _WIN32
// The multi-instance claim: the semaphore of the lowest free suffix of base, whose handle (a
// Windows HANDLE) the caller keeps; lastError as the final creation left it.
struct ClaimedSemaphore {
  void* handle = nullptr;
  std::string name;
  std::uint32_t lastError = 0;
};
ClaimedSemaphore claimInstanceSemaphore(std::string_view base);
#endif

}  // namespace pelto
