#pragma once
// Runtimes registered in the registry: the Java vendor keys and the located runtimes.
#include <string>
#include <vector>

#include "jre/Version.h"

namespace pelto {

// The runtime of the vendor keys or of the located runtimes, whichever is newer (the located
// one on equal versions). ConfigId 165: located runtimes under "qvx_jres" only.
bool checkRegisteredRuntimes(std::string& candidate, std::string& version, const VersionBounds& bounds);
bool checkVendorRegistry(std::string& executable, std::string& version, const VersionBounds& bounds);
// developmentKitKey and runtimeKey below HKEY_LOCAL_MACHINE, each with "CurrentVersion".
bool checkCurrentVersionKeys(std::string& executable, std::string& version, const VersionBounds& bounds,
                             const std::string& developmentKitKey, const std::string& runtimeKey);
bool checkVersionSubkeys(std::string& executable, std::string& version, const VersionBounds& bounds,
                         const std::string& vendorKey);
bool checkLocatedRuntimes(std::string& executable, std::string& version, const VersionBounds& bounds,
                          bool all);
// currentUser: HKEY_CURRENT_USER, else HKEY_LOCAL_MACHINE.
bool scanLocatedRuntimes(bool currentUser, std::string& executable, std::string& version,
                         const VersionBounds& bounds, bool all);

// The version subkey names in the order they are tried: those in range (lenient), in
// descending byte-wise text order.
std::vector<std::string> versionSubkeyTrialOrder(std::vector<std::string> names, const VersionBounds& bounds);
// The subkey names of an open registry key (an HKEY), in enumeration order; names longer than
// the text room are left out, and the walk ends on any other error or after MaxSubkeys indices.
constexpr unsigned long MaxSubkeys = 100000;
std::vector<std::string> subkeyNames(void* key);
// A located-runtime key name as an executable path: forward slashes become backslashes.
std::string locatedRuntimePath(const std::string& keyName);

}  // namespace pelto
