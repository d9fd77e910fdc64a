#pragma once
// Is this java.exe usable? Full path, existence, version from the per-user cache or a probe.
#include <cstdint>
#include <string>

#include "jre/Version.h"

namespace pelto {

// How long a probe waits for "java -version" before it terminates the child.
constexpr std::uint32_t ProbeWaitMs = 60000;

// candidate: in/out (made absolute, lower case; the javaw.exe beside it for ExecutableType 1);
// version: out. Room for the candidate: TextRoom.
bool checkJavaExe(std::string& candidate, std::string& version, const VersionBounds& bounds,
                  bool allowPreRelease);
// The java executable of a runtime home: home "\jre\bin\java.exe" when it exists, else
// home "\bin\java.exe". With ConfigId 131 (a JDK is required) the path stays
// "\jre\bin\java.exe" and the result is whether home "\lib\tools.jar" exists.
bool javaExeForHome(std::string& executable, const std::string& home);
// Runs "executable -version" hidden and reads the version from the first line of its
// standard error. waitMs: how long to wait before the child is terminated.
bool probeJavaVersion(const std::string& executable, std::uint64_t lastWrite, std::string& version,
                      std::uint32_t waitMs = ProbeWaitMs);
bool lookupCachedVersion(const std::string& executable, std::uint64_t lastWrite, std::string& version);
void storeCachedVersion(const std::string& executable, std::uint64_t lastWrite, const std::string& version);

}  // namespace pelto
