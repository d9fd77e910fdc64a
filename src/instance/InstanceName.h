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

}  // namespace pelto
