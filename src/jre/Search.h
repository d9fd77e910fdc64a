#pragma once
// The ordered search over configured and well-known places for a usable runtime.
#include <string>
#include <string_view>
#include <vector>

#include "jre/Version.h"

namespace pelto {

// 0 none accepted, 1 executable search path, 2 runtime directory, 3 environment variable,
// 4 registry.
using JvmSourceKind = int;

// Returns the module handle (HMODULE) of the loaded jvm.dll, or nullptr. The out texts are
// left as the last accepted candidate set them.
void* searchForJvm(std::string& candidate, std::string& version, JvmSourceKind& kind, std::string& location);

// The first line of a file below the application directory (ConfigId 10003), without its line
// ends; false when the file cannot be opened or holds no (non-empty) line.
bool readLocationFile(const char16_t* suffix, std::string& line);
bool checkRuntimeDirectory(std::string& candidate, std::string& version, const std::string& directory,
                           const VersionBounds& bounds, bool force);
bool checkEnvironmentHome(std::string& candidate, std::string& version, const char* variable,
                          const VersionBounds& bounds);
bool checkSystemPath(std::string& candidate, std::string& version, const VersionBounds& bounds);
// root: an HKEY. Runtimes of earlier installations of this application (ConfigId 160).
bool checkPreviousInstallations(void* root, std::string& candidate, std::string& version,
                                const VersionBounds& bounds);

// One entry of the search sequence (ConfigId 128): a type letter and its text.
struct JvmSearchEntry {
  char letter;
  std::string text;
};

// The entries of a ";"-separated sequence; runs of ";" give no empty entries.
std::vector<JvmSearchEntry> splitSearchSequence(std::string_view sequence);
// The parts of a ";"-separated list, without empty ones.
std::vector<std::string> splitSemicolonList(std::string_view list);
// "X:..." or "\\...": such directory entries of letters A and R are left out of the fallback pass.
bool isAbsoluteEntryText(std::string_view text);
// Whether an entry takes part in the fallback pass (letters B, R, A).
bool takesPartInFallback(const JvmSearchEntry& entry);

}  // namespace pelto
