#include "instance/InstanceName.h"

#include "launcher/Limits.h"

namespace pelto {

std::string mangleInstanceIdentity(std::string_view identity) {
  std::string out(identity);
  for (char& c : out)
    if (c == '\\' || c == ' ') c = '_';
  return out;
}

std::string instanceSemaphoreBase(std::string_view identity, bool global, bool* cut) {
  std::string base = global ? "Global\\" : "Local\\";
  base += mangleInstanceIdentity(identity);
  // Room for the NUL and the longest suffix, so that every suffixed name differs.
  constexpr std::size_t room = TextRoom - 1 - 6;
  bool tooLong = base.size() > room;
  if (tooLong) base.resize(room);
  if (cut) *cut = tooLong;
  return base;
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

}  // namespace pelto
