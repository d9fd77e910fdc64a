#include "service/Supervision.h"

#include <algorithm>

#include "env/TextConv.h"
#include "launcher/Config.h"
#include "launcher/ConfigIds.h"
#include "service/ServiceText.h"

namespace pelto {

std::uint64_t configNumber(std::string_view text, std::uint64_t max) {
  if (text.empty()) return 0;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    unsigned digit = static_cast<unsigned>(c - '0');
    if (value > (max - digit) / 10) return max;
    value = value * 10 + digit;
  }
  return value;
}

SupervisionSettings readSupervisionSettings() {
  SupervisionSettings s;
  s.stopTimeoutMs =
      static_cast<std::uint32_t>(configNumber(getConfigString(config_id::StopTimeout), 0xFFFFFFFEu));
  s.killOnSupervisorExit = getConfigInt(config_id::KillOnSupervisorExit) != 0;
  s.recovery = LauncherConfig.strings.count(config_id::RecoveryRestartDelays) != 0;
  s.eventLog = getConfigInt(config_id::EventLog) != 0;
  s.outputFile = getConfigWideString(config_id::ServiceLogFile);
  if (s.outputFile.empty()) s.outputFile = getConfigStringW(config_id::ServiceLogFile);
  s.maxSize = configNumber(getConfigString(config_id::ServiceLogMaxSize), UINT64_MAX);
  s.keep = static_cast<unsigned>(configNumber(getConfigString(config_id::ServiceLogKeep), MaxKeptLogFiles));
  long count = std::clamp(getConfigInt(config_id::ServiceEnvironmentCount), 0L, MaxEnvironmentEntries);
  for (long i = 0; i < count; ++i)
    s.environment.push_back(
        getConfigWideString(static_cast<ConfigId>(config_id::ServiceEnvironmentFirst + i)));
  return s;
}

bool stopTimeIsUp(std::uint32_t stopTimeoutMs, std::uint32_t stopTick, std::uint32_t nowTick) {
  return stopTimeoutMs != 0 && static_cast<std::uint32_t>(nowTick - stopTick) >= stopTimeoutMs;
}

ChildEndReport childEndReport(std::uint32_t childExitCode, bool stopPending, bool stopTimedOut,
                              bool recovery) {
  if (childExitCode == 0 || stopPending || stopTimedOut) return {true, 0, 0};
  if (recovery) return {true, ServiceSpecificError, childExitCode};
  return {};
}

namespace {

char16_t upperAscii(char16_t c) {
  return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

bool namesEqual(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) {
           return upperAscii(x) == upperAscii(y);
         });
}

bool nameLess(std::u16string_view a, std::u16string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char16_t x, char16_t y) { return upperAscii(x) < upperAscii(y); });
}

}  // namespace

std::u16string_view environmentName(std::u16string_view entry) {
  std::size_t eq = entry.find(u'=', 1);
  return entry.substr(0, eq == std::u16string_view::npos ? entry.size() : eq);
}

std::u16string environmentBlock(std::span<const std::u16string> current,
                                std::span<const std::u16string> additions, std::size_t* skipped) {
  std::vector<std::u16string> entries;
  for (const std::u16string& e : current)
    if (!e.empty()) entries.push_back(e);
  std::size_t bad = 0;
  for (const std::u16string& add : additions) {
    std::size_t eq = add.find(u'=');
    if (eq == 0 || eq == std::u16string::npos) {
      ++bad;
      continue;
    }
    std::u16string_view name(add.data(), eq);
    std::erase_if(entries, [&](const std::u16string& e) { return namesEqual(environmentName(e), name); });
    entries.push_back(add);
  }
  std::stable_sort(entries.begin(), entries.end(), [](const std::u16string& a, const std::u16string& b) {
    return nameLess(environmentName(a), environmentName(b));
  });
  std::u16string block;
  for (const std::u16string& e : entries) {
    block += e;
    block += u'\0';
  }
  block += u'\0';
  if (block.size() == 1) block += u'\0';  // an empty block still ends with two NULs
  if (skipped) *skipped = bad;
  return block;
}

std::u16string rolledLogName(std::u16string_view path, unsigned n) {
  std::size_t nameStart = path.find_last_of(u"\\/");
  nameStart = nameStart == std::u16string_view::npos ? 0 : nameStart + 1;
  std::size_t dot = path.rfind(u'.');
  std::u16string number = u"." + utf8ToUtf16(std::to_string(n));
  if (dot == std::u16string_view::npos || dot <= nameStart) return std::u16string(path) + number;
  return std::u16string(path.substr(0, dot)) + number + std::u16string(path.substr(dot));
}

std::vector<RollStep> rollSteps(std::u16string_view path, unsigned keep) {
  if (keep == 0) return {{std::u16string(path), u""}};
  const std::u16string aside = std::u16string(path) + u".rolling";
  std::vector<RollStep> steps{{std::u16string(path), aside}, {rolledLogName(path, keep), u""}};
  for (unsigned k = keep; k > 1; --k) steps.push_back({rolledLogName(path, k - 1), rolledLogName(path, k)});
  steps.push_back({aside, rolledLogName(path, 1)});
  return steps;
}

bool rollAttemptDue(bool lastRollFailed, std::uint32_t failedTick, std::uint32_t nowTick) {
  return !lastRollFailed || static_cast<std::uint32_t>(nowTick - failedTick) >= RollRetryMs;
}

std::u16string expandServiceName(std::u16string_view configured, std::u16string_view serviceName) {
  constexpr std::u16string_view mark = u"{service}";
  std::u16string out;
  for (std::size_t at = 0;;) {
    std::size_t found = configured.find(mark, at);
    out += configured.substr(at, found - at);
    if (found == std::u16string_view::npos) return out;
    out += serviceName;
    at = found + mark.size();
  }
}

const char* outputPathFault(std::u16string_view relative) {
  if (relative.empty()) return "is empty";
  if (relative.find(u':') != std::u16string_view::npos) return "names a drive or a stream (\":\")";
  if (relative.front() == u'\\' || relative.front() == u'/')
    return "is not relative to the executable's folder";
  if (relative.back() == u'\\' || relative.back() == u'/') return "names a folder, not a file";
  std::size_t start = 0;
  while (start <= relative.size()) {
    std::size_t end = relative.find_first_of(u"\\/", start);
    if (end == std::u16string_view::npos) end = relative.size();
    std::u16string_view part = relative.substr(start, end - start);
    if (!part.empty() && part.find_first_not_of(u". ") == std::u16string_view::npos)
      return "has a component of dots (\"..\" would lead out of the executable's folder)";
    start = end + 1;
  }
  return nullptr;
}

std::u16string capturedOutputPath(std::u16string_view configured, std::u16string_view serviceName,
                                  std::u16string_view folder, const char*& why) {
  std::u16string relative = expandServiceName(configured, serviceName);
  why = outputPathFault(relative);
  if (why) return {};
  std::u16string path(folder);
  for (char16_t c : relative) {
    if (c == u'/') c = u'\\';
    if (c == u'\\' && !path.empty() && path.back() == u'\\') continue;
    path += c;
  }
  return path;
}

std::size_t nextOutputWrite(std::uint64_t fileSize, std::size_t pending, std::uint64_t maxSize,
                            bool& rollFirst) {
  rollFirst = maxSize != 0 && fileSize >= maxSize;
  if (maxSize == 0) return pending;
  std::uint64_t room = maxSize - (rollFirst ? 0 : fileSize);
  return room < pending ? static_cast<std::size_t>(room) : pending;
}

EventEntry serviceEventEntry(ServiceEvent event, std::u16string_view detail, std::uint64_t code) {
  std::u16string number = utf8ToUtf16(std::to_string(code));
  std::u16string d(detail);
  switch (event) {
    case ServiceEvent::Started:
      return {EventInformation, 1, u"The service started with the Java runtime " + d + u"."};
    case ServiceEvent::Stopped:
      return {code == 0 ? EventInformation : EventError, 2,
              code == 0 ? u"The service stopped."
                        : u"The service stopped with service-specific error " + number + u"."};
    case ServiceEvent::ChildEnded:
      return {code == 0 ? EventInformation : EventError, 3,
              u"The child process ended with exit code " + number + u"."};
    case ServiceEvent::ChildStartFailed:
      return {EventError, 4, u"The child process could not be started: " + d};
    case ServiceEvent::StopTimedOut:
      return {EventWarning, 5,
              u"The child process did not end within " + number +
                  u" ms of the stop request; it was ended with every "
                  u"process it started."};
    case ServiceEvent::NoJavaRuntime:
      return {EventError, 6, u"No Java runtime was found."};
    case ServiceEvent::OutputFailed:
      return {EventWarning, 7, u"The output file cannot be written, the output is discarded: " + d};
    case ServiceEvent::RollFailed:
      return {
          EventWarning, 8,
          u"The output file cannot be rolled, it grows past its size until a later attempt succeeds: " + d};
    case ServiceEvent::AnotherInstance:
      return {EventError, 9,
              u"Another instance of the application runs (process " + number + u"); this start ends."};
  }
  return {};
}

std::vector<EventEntry> childEndEvents(std::uint32_t childExitCode, bool stopPending, bool stopTimedOut,
                                       std::uint32_t stopTimeoutMs, const ChildEndReport& report) {
  std::vector<EventEntry> events;
  if (stopTimedOut) {
    events.push_back(serviceEventEntry(ServiceEvent::StopTimedOut, {}, stopTimeoutMs));
  } else {
    EventEntry ended = serviceEventEntry(ServiceEvent::ChildEnded, {}, childExitCode);
    // A child asked to stop may end with any code; only a failure on its own is an error.
    if (stopPending) ended.type = EventInformation;
    events.push_back(ended);
  }
  if (report.reportStopped)
    events.push_back(serviceEventEntry(ServiceEvent::Stopped, {}, report.serviceSpecificExitCode));
  return events;
}

bool childNeedsJob(const SupervisionSettings& settings) {
  return settings.killOnSupervisorExit || settings.stopTimeoutMs != 0;
}

std::uint32_t serviceChildOf(std::span<const ProcessFacts> processes, std::uint32_t servicePid,
                             std::uint64_t serviceCreated) {
  for (const ProcessFacts& p : processes)
    if (servicePid && p.parentPid == servicePid && p.pid != servicePid && p.created >= serviceCreated &&
        p.sameImage)
      return p.pid;
  return 0;
}

std::string childStatusLine(std::uint32_t pid, std::uint64_t seconds) {
  auto two = [](std::uint64_t v) { return (v < 10 ? "0" : "") + std::to_string(v); };
  std::string line = "Child process " + std::to_string(pid) + ", running for ";
  if (seconds >= 86400) line += std::to_string(seconds / 86400) + "d ";
  line += two(seconds / 3600 % 24) + ":" + two(seconds / 60 % 60) + ":" + two(seconds % 60) + ".\n";
  return line;
}

}  // namespace pelto
