// Temporary stand-in for the fatal path while the launcher's own is not in the tree: ends
// the process with exit code 1 as the real one does, so death tests hold for both.
#include <cstdio>
#include <cstdlib>

#include "env/TextConv.h"
#include "launcher/Fatal.h"

namespace pelto {

void raiseLaunchError(ConfigId messageId, std::u16string_view detail) {
  std::fprintf(stderr, "LaunchError %d %s\n", static_cast<int>(messageId), utf16ToUtf8(detail).c_str());
  std::fflush(stderr);
  std::_Exit(1);
}

void raiseLaunchError(ConfigId messageId, std::string_view narrowDetail) {
  std::fprintf(stderr, "LaunchError %d %.*s\n", static_cast<int>(messageId),
               static_cast<int>(narrowDetail.size()), narrowDetail.data());
  std::fflush(stderr);
  std::_Exit(1);
}

}  // namespace pelto
