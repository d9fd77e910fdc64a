// The order of the registry's runtime names, apart from the registry itself.
#include <algorithm>

#include "jre/Registry.h"

namespace pelto {

std::vector<std::string> versionSubkeyTrialOrder(std::vector<std::string> names,
                                                 const VersionBounds& bounds) {
  std::erase_if(names, [&](const std::string& n) { return !isVersionInRangeLenient(n, bounds); });
  // Text order, not version order: std::string compares as unsigned bytes, a prefix first.
  std::sort(names.begin(), names.end(), std::greater<>());
  return names;
}

std::string locatedRuntimePath(const std::string& keyName) {
  std::string path = keyName;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

}  // namespace pelto
