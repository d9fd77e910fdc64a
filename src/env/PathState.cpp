#include "env/Paths.h"

namespace pelto {
std::string LauncherTempDir;
std::u16string LauncherTempDirWide;
}  // namespace pelto
