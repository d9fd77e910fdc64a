#pragma once
// Is this java.exe usable? Full path, existence, version from the per-user cache or a probe.
#include <cstdint>
#include <string>

#include "jre/Version.h"

namespace pelto {

// candidate: in/out (made absolute); version: out. Room for the candidate: TextRoom.
bool checkJavaExe(std::string& candidate, std::string& version, const VersionBounds& bounds, bool allowPreRelease);
// The java executable of a runtime home ("bin\java.exe", or "bin\javaw.exe" for ExecutableType 1).
bool javaExeForHome(std::string& executable, const std::string& home);
bool probeJavaVersion(const std::string& executable, std::uint64_t lastWrite, std::string& version);
bool lookupCachedVersion(const std::string& executable, std::uint64_t lastWrite, std::string& version);
void storeCachedVersion(const std::string& executable, std::uint64_t lastWrite, const std::string& version);

}  // namespace pelto
