#pragma once
// The text rules of the probe and the version cache, apart from the Windows calls.
#include <optional>
#include <string>
#include <string_view>

namespace pelto {

// The first line of "java -version" on standard error, as read (at most 99 characters, its
// line feed included when it fits). True with the version between the quotes after
// "java version \"" or "openjdk version \"".
bool versionFromFirstLine(std::string_view line, std::string& version);
// The cache key below HKEY_CURRENT_USER of a normalised executable path.
std::string versionCacheKey(std::string_view executable);
// The "Version" value as read (with or without its NUL) as text; false for a value that
// does not count as a cached version.
bool cachedVersionFromValue(std::string_view value, std::string& version);
// What the probe hands to CreateProcess. The executable is the application name, so that the
// system never tries a program at a prefix of the path cut at a space (C:\Program.exe); the
// command line names it (its short form when there is one) in double quotes, then "-version".
// None for a path holding a double quote, which no file name can.
struct ProbeCommand {
  std::string application;
  std::string commandLine;
};
std::optional<ProbeCommand> probeCommand(std::string_view executable, std::string_view shortForm);
// Marks an executable whose probe ended with a non-zero exit code; never used from the cache.
constexpr std::string_view FailedProbeVersion = "1.0.0";
// A probe's first line is read into this many characters (NUL included).
constexpr std::size_t FirstLineRoom = 100;

}  // namespace pelto
