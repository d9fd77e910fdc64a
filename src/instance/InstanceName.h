#pragma once
// The single-instance rules that need no Windows: the semaphore's name, the search for a free
// multi-instance suffix and the wait for the first instance's process id.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace pelto {

constexpr long HighestInstanceSuffix = 100000;
constexpr int InstancePidRetries = 50;   // reads after the first one
constexpr int InstancePidPauseMs = 100;  // between two reads

// The identity with every backslash and every space as an underscore.
std::string mangleInstanceIdentity(std::string_view identity);
// Kernel object names are limited to this many characters, NUL included.
constexpr std::size_t SemaphoreNameRoom = 260;
// The longest multi-instance suffix ("100000").
constexpr std::size_t InstanceSuffixRoom = 6;
// "Global\" or "Local\" and the mangled identity. Where that and reserve more characters
// (the suffix of multi-instance mode) do not fit the object-name room, the identity is
// replaced by "pelto-" and a hash of the mangled identity: the same executable always gets the
// same short name in the same namespace.
std::string instanceSemaphoreBase(std::string_view identity, bool global, std::size_t reserve = 0);
// The last error of a semaphore creation that means the name is taken: it exists, or it does
// and belongs to another account. The multi-instance search passes over either.
bool anotherInstanceHolds(std::uint32_t lastError);
// What an existing single-instance semaphore means. A name in "Global\\" needs no privilege to
// create, so one another account made (it is denied to this one, or its owner is not this
// account) is no instance of this application: this account then uses the name of its own.
enum class InstanceVerdict { First, Second, Foreign };
InstanceVerdict instanceVerdict(std::uint32_t lastError, bool ownedByThisAccount);
// The base of this account's own name beside a foreign one: the identity qualified by the
// account's SID text.
std::string accountSemaphoreBase(std::string_view identity, std::string_view accountSid, bool global);
// The base followed by the decimal n.
std::string suffixedInstanceName(std::string_view base, long n);

// The multi-instance search. open(name) creates or opens the semaphore of that name, keeps it
// as the current one and tells whether it existed already; close() lets the current one go.
// Returns the lowest suffixed name that did not exist; with 0 to HighestInstanceSuffix all
// taken, the last one, whose handle is kept.
std::string claimFreeInstanceName(std::string_view base, const std::function<bool(const std::string&)>& open,
                                  const std::function<void()>& close);

// Reads the process id until it is non-zero, pausing between reads, at most
// 1 + InstancePidRetries reads; 0 when none was found.
std::uint32_t waitForInstancePid(const std::function<std::uint32_t()>& read,
                                 const std::function<void()>& pause);

// The window calls one activation needs, so that the order of steps is the same everywhere.
struct WindowOps {
  std::function<bool(void*)> isVisible;
  std::function<std::uint32_t(void*)> ownerProcess;
  std::function<bool(void*)> isIconic;
  std::function<void(void*)> restore;
  std::function<void(void*)> toForeground;
  std::function<void*(void*)> lastActivePopup;
};
// One top-level window of the enumeration: passed over unless visible and owned by the target
// process; else restored when minimised (with restore set), brought to the front, and its last
// active popup too. Logs each step.
void activateWindow(void* window, std::uint32_t targetProcess, bool restore, const WindowOps& ops);

}  // namespace pelto
