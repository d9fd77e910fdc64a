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
// "Global\" or "Local\" and the mangled identity, cut so that a suffix of up to six digits
// still fits the text room (*cut tells whether anything was cut).
std::string instanceSemaphoreBase(std::string_view identity, bool global, bool* cut = nullptr);
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
