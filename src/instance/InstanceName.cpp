#include "instance/InstanceName.h"

#include "launcher/Limits.h"
#include "launcher/Log.h"

namespace pelto {

std::string mangleInstanceIdentity(std::string_view identity) {
  std::string out(identity);
  for (char& c : out)
    if (c == '\\' || c == ' ') c = '_';
  return out;
}

std::string instanceSemaphoreBase(std::string_view identity, bool global, std::size_t reserve) {
  std::string base = global ? "Global\\" : "Local\\";
  std::string mangled = mangleInstanceIdentity(identity);
  if (base.size() + mangled.size() + reserve < SemaphoreNameRoom) return base + mangled;
  // FNV-1a, 64 bits: stable across runs and builds, unlike std::hash.
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (unsigned char c : mangled) hash = (hash ^ c) * 0x100000001b3ULL;
  // Written by hand: a printf here would link the C library's whole formatter into the launcher.
  std::string hex(16, '0');
  for (std::size_t i = 16; i-- > 0; hash >>= 4) hex[i] = "0123456789abcdef"[hash & 0xF];
  return base + "pelto-" + hex;
}

bool anotherInstanceHolds(std::uint32_t lastError) {
  constexpr std::uint32_t accessDenied = 5, alreadyExists = 183;  // ERROR_ACCESS_DENIED, ERROR_ALREADY_EXISTS
  return lastError == alreadyExists || lastError == accessDenied;
}

InstanceVerdict instanceVerdict(std::uint32_t lastError, bool ownedByThisAccount) {
  constexpr std::uint32_t accessDenied = 5, alreadyExists = 183;
  if (lastError == accessDenied) return InstanceVerdict::Foreign;
  if (lastError != alreadyExists) return InstanceVerdict::First;
  return ownedByThisAccount ? InstanceVerdict::Second : InstanceVerdict::Foreign;
}

std::string accountSemaphoreBase(std::string_view identity, std::string_view accountSid, bool global) {
  return instanceSemaphoreBase(std::string(identity) + "|" + std::string(accountSid), global);
}

std::string suffixedInstanceName(std::string_view base, long n) {
  return std::string(base) + std::to_string(n);
}

std::string claimFreeInstanceName(std::string_view base, const std::function<bool(const std::string&)>& open,
                                  const std::function<void()>& close) {
  for (long n = 0;; ++n) {
    std::string name = suffixedInstanceName(base, n);
    if (!open(name) || n == HighestInstanceSuffix) return name;
    close();
  }
}

std::uint32_t waitForInstancePid(const std::function<std::uint32_t()>& read,
                                 const std::function<void()>& pause) {
  std::uint32_t pid = read();
  for (int retry = 0; pid == 0 && retry < InstancePidRetries; ++retry) {
    pause();
    pid = read();
  }
  return pid;
}

void activateWindow(void* window, std::uint32_t targetProcess, bool restore, const WindowOps& ops) {
  if (!ops.isVisible(window) || ops.ownerProcess(window) != targetProcess) return;
  logMessage(u"found window %p", static_cast<const void*>(window));
  if (restore && ops.isIconic(window)) {
    logMessage(u"restore");
    ops.restore(window);
  }
  logMessage(u"foreground");
  ops.toForeground(window);
  logMessage(u"popup");
  ops.toForeground(ops.lastActivePopup(window));
  logMessage(u"done");
}

}  // namespace pelto
