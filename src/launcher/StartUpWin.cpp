// What every process does first, before the command line is looked at.
#include <windows.h>

#include "env/Paths.h"
#include "env/TextConv.h"
#include "jvm/Expand.h"
#include "launcher/Config.h"
#include "launcher/Limits.h"
#include "launcher/Log.h"
#include "launcher/StartUp.h"

namespace pelto {

char LauncherFlavour = '\0';

void applyStartUpConfig() {
  std::string flavour = getConfigString(2001, 2);
  LauncherFlavour = flavour.empty() ? '\0' : flavour[0];

  std::u16string dir = getConfigStringW(146, TextRoom);
  if (dir.empty()) {
    logMessage(u"working directory unchanged");
    return;
  }
  expandVariables(dir, true, TextRoom);
  std::u16string full = fullPath(std::u16string_view(dir), true, true);
  // A directory that cannot be entered leaves the process where it was; the log line records
  // the attempt.
  SetCurrentDirectoryW(wptr(full));
  logMessage(u"change working directory to %s", full);
}

void startUp() {
  LauncherTempDir.clear();
  loadLauncherConfig();
  applyStartUpConfig();
}

}  // namespace pelto
