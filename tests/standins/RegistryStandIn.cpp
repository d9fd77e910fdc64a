// Until the registry runtime lookup is merged: no runtime is registered, so the search goes on
// to its other places. Linked into the launcher only while src/jre has no registry source.
#include "jre/Registry.h"

namespace pelto {
bool checkRegisteredRuntimes(std::string&, std::string&, const VersionBounds&) {
  return false;
}
}  // namespace pelto
