#pragma once
// Runtimes registered in the registry: the Java vendor keys and the located runtimes.
#include <string>

#include "jre/Version.h"

namespace pelto {

bool checkRegisteredRuntimes(std::string& candidate, std::string& version, const VersionBounds& bounds);
bool checkVendorRegistry(std::string& executable, std::string& version, const VersionBounds& bounds);
bool checkLocatedRuntimes(std::string& executable, std::string& version, const VersionBounds& bounds,
                          bool all);

}  // namespace pelto
