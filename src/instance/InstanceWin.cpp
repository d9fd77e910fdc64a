// Single instance: a named semaphore per executable, the first instance's process id in the
// registry, and the activation of its windows by a second start.
#include <windows.h>

#include "env/Handles.h"
#include "env/OwnerOnly.h"
#include "env/Paths.h"
#include "env/User32.h"
#include "instance/Instance.h"
#include "instance/InstanceName.h"
#include "launcher/Config.h"
#include "launcher/Fatal.h"
#include "launcher/Log.h"
#include "service/ServiceRuntime.h"

namespace pelto {

std::string InstanceSemaphoreName;

namespace {

// Held until the process ends: the semaphore exists as long as some instance holds it.
UniqueHandle InstanceSemaphore;

struct WindowSearch {
  DWORD processId;
  bool restore;
};

// Resolved on first use, so that only a second start that activates windows loads user32.
const WindowOps& systemWindowOps() {
  using IsFlag = BOOL(WINAPI*)(HWND);
  static const auto isVisible = user32<IsFlag>("IsWindowVisible");
  static const auto ownerOf = user32<DWORD(WINAPI*)(HWND, LPDWORD)>("GetWindowThreadProcessId");
  static const auto isIconic = user32<IsFlag>("IsIconic");
  static const auto show = user32<BOOL(WINAPI*)(HWND, int)>("ShowWindow");
  static const auto toFront = user32<BOOL(WINAPI*)(HWND)>("SetForegroundWindow");
  static const auto popup = user32<HWND(WINAPI*)(HWND)>("GetLastActivePopup");
  static const WindowOps ops{
      [](void* w) { return isVisible && isVisible(static_cast<HWND>(w)) != 0; },
      [](void* w) {
        DWORD owner = 0;
        if (ownerOf) ownerOf(static_cast<HWND>(w), &owner);
        return static_cast<std::uint32_t>(owner);
      },
      [](void* w) { return isIconic && isIconic(static_cast<HWND>(w)) != 0; },
      [](void* w) {
        if (show) show(static_cast<HWND>(w), SW_RESTORE);
      },
      [](void* w) {
        if (toFront) toFront(static_cast<HWND>(w));
      },
      [](void* w) { return popup ? static_cast<void*>(popup(static_cast<HWND>(w))) : w; }};
  return ops;
}

// Called by the system: nothing may escape it, so it is noexcept (a throw would terminate
// here instead of unwinding through EnumWindows). The enumeration always goes on.
BOOL CALLBACK activateEnumeratedWindow(HWND window, LPARAM context) noexcept {
  const auto* search = reinterpret_cast<const WindowSearch*>(context);
  activateWindow(window, search->processId, search->restore, systemWindowOps());
  return TRUE;
}

HANDLE createSemaphore(const std::string& name, DWORD& lastError) {
  // A fresh creation leaves the last error alone on some systems: clear it first.
  // Made with this account as its owner, so that a later start can tell it from one another
  // account made.
  static OwnerOnlySecurity security;
  SetLastError(ERROR_SUCCESS);
  HANDLE h = CreateSemaphoreA(security.attributes(), 1, 1, name.c_str());
  lastError = GetLastError();
  return h;
}

void logSemaphore(const std::string& name, DWORD code, HANDLE h) {
  logMessage(u"semaphore name %S, code %d, value %p", name, static_cast<int>(code),
             static_cast<const void*>(h));
  // Not another instance and no semaphore either: this run goes on unguarded, and says so.
  if (!h && !anotherInstanceHolds(code))
    logError(u"could not create semaphore %S (error %d)", name, static_cast<int>(code));
}

}  // namespace

std::string executableIdentity() {
  return fullPath(getExecutablePath(), false);
}

void writeInstancePid(std::string_view key, std::string_view valueName, std::uint32_t pid) {
  UniqueHKey k;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, std::string(key).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      k.put(), nullptr) != ERROR_SUCCESS)
    return;
  DWORD value = pid;
  RegSetValueExA(k.get(), std::string(valueName).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                 sizeof value);
}

std::uint32_t readInstancePid(std::string_view key, std::string_view valueName) {
  UniqueHKey k;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, std::string(key).c_str(), 0, KEY_READ, k.put()) != ERROR_SUCCESS)
    return 0;
  DWORD value = 0, size = sizeof value, type = 0;
  if (RegQueryValueExA(k.get(), std::string(valueName).c_str(), nullptr, &type,
                       reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof value)
    return 0;
  return value;
}

void writeInstancePid() {
  writeInstancePid(InstancePidKey, executableIdentity(), GetCurrentProcessId());
}

std::uint32_t readInstancePid() {
  return readInstancePid(InstancePidKey, executableIdentity());
}

void activateProcessWindows(std::uint32_t processId, bool restore) {
  WindowSearch search{processId, restore};
  auto enumWindows = user32<BOOL(WINAPI*)(WNDENUMPROC, LPARAM)>("EnumWindows");
  if (!enumWindows) {
    logMessage(u"no window functions, nothing activated");
    return;
  }
  enumWindows(activateEnumeratedWindow, reinterpret_cast<LPARAM>(&search));
}

ClaimedSemaphore claimInstanceSemaphore(std::string_view base) {
  UniqueHandle current;
  DWORD code = 0;
  std::string name = claimFreeInstanceName(
      base,
      [&](const std::string& candidate) {
        current.reset(createSemaphore(candidate, code));
        return anotherInstanceHolds(code);
      },
      [&] { current.reset(); });
  return {current.release(), name, code};
}

namespace {

InstanceVerdict claimSingleInstance(const std::string& name, UniqueHandle& semaphore) {
  DWORD code = 0;
  semaphore.reset(createSemaphore(name, code));
  logSemaphore(name, code, semaphore.get());
  InstanceVerdict verdict =
      instanceVerdict(code, semaphore && ownedByThisAccount(semaphore.get(), SE_KERNEL_OBJECT));
  if (verdict == InstanceVerdict::Foreign)
    logError(u"semaphore %S belongs to another account: no instance of this application", name);
  if (verdict != InstanceVerdict::First) semaphore.reset();
  return verdict;
}

[[noreturn]] void giveWay(bool serviceChild) {
  std::uint32_t other =
      waitForInstancePid([] { return readInstancePid(); }, [] { Sleep(InstancePidPauseMs); });
  logMessage(u"other pid %d", static_cast<int>(other));
  if (other != 0 && getConfigInt(10007) != 0) activateProcessWindows(other, true);
  logMessage(u"exiting");
  if (!serviceChild) exitLauncher(0);
  // The service would otherwise report a clean stop of an application that never ran.
  logError(u"another instance runs: the service's child ends with %d",
           static_cast<int>(AnotherInstanceExitCode));
  reportChildServiceEvent(ServiceEvent::AnotherInstance, other);
  exitLauncher(static_cast<int>(AnotherInstanceExitCode));
}

}  // namespace

void setUpSingleInstance(bool serviceChild) {
  bool multi = getConfigInt(10005) == 0;
  bool global = getConfigInt(158) != 0;
  std::string base = instanceSemaphoreBase(executableIdentity(), global, multi ? InstanceSuffixRoom : 0);
  if (multi) {
    ClaimedSemaphore claimed = claimInstanceSemaphore(base);
    InstanceSemaphore.reset(claimed.handle);
    InstanceSemaphoreName = claimed.name;
    logSemaphore(InstanceSemaphoreName, claimed.lastError, InstanceSemaphore.get());
    return;
  }
  logMessage(u"single instance mode");
  InstanceSemaphoreName = base;
  UniqueHandle semaphore;
  InstanceVerdict verdict = claimSingleInstance(InstanceSemaphoreName, semaphore);
  if (verdict == InstanceVerdict::Foreign) {
    std::wstring sid = currentAccountSid();
    InstanceSemaphoreName =
        accountSemaphoreBase(executableIdentity(), std::string(sid.begin(), sid.end()), global);
    verdict = claimSingleInstance(InstanceSemaphoreName, semaphore);
    // Both names taken by others: this start runs unguarded rather than not at all.
    if (verdict == InstanceVerdict::Foreign) logError(u"running without a single-instance guard");
  }
  if (verdict == InstanceVerdict::Second) giveWay(serviceChild);
  InstanceSemaphore = std::move(semaphore);
  writeInstancePid();
}

}  // namespace pelto
