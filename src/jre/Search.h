#pragma once
// The ordered search over configured and well-known places for a usable runtime.
#include <string>

#include "jre/Version.h"

namespace pelto {

// 0 none accepted, 1 executable search path, 2 runtime directory, 3 environment variable,
// 4 registry.
using JvmSourceKind = int;

// Returns the module handle (HMODULE) of the loaded jvm.dll, or nullptr. The out texts are
// left as the last accepted candidate set them.
void* searchForJvm(std::string& candidate, std::string& version, JvmSourceKind& kind, std::string& location);

bool readLocationFile(const char* suffix, std::string& line);
bool checkRuntimeDirectory(std::string& candidate, std::string& version, const std::string& directory,
                           const VersionBounds& bounds, bool force);
bool checkEnvironmentHome(std::string& candidate, std::string& version, const char* variable,
                          const VersionBounds& bounds);
bool checkSystemPath(std::string& candidate, std::string& version, const VersionBounds& bounds);

}  // namespace pelto
