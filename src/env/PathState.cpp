#include "env/Paths.h"

namespace pelto {
std::string LauncherTempDir;
}  // namespace pelto
