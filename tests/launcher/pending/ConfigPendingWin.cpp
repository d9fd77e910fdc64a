// Stand-in: empty configuration tables, getters without the logging of cuts.
#include "env/TextConv.h"
#include "launcher/Config.h"

namespace pelto {

LauncherConfigTables LauncherConfig;
bool ErrorDialogMode = false;

void loadLauncherConfig() {}

std::string getConfigString(ConfigId id, std::size_t capacity) {
  auto it = LauncherConfig.strings.find(id);
  std::string s = it == LauncherConfig.strings.end() ? std::string() : it->second;
  cutToRoom(s, capacity);
  return s;
}

std::u16string getConfigStringW(ConfigId id, std::size_t capacity) {
  std::u16string s = ansiToWide(getConfigString(id, TextRoom * 4));
  cutToRoom(s, capacity);
  return s;
}

std::u16string getConfigText(ConfigId id) {
  auto it = LauncherConfig.wide.find(id);
  if (it != LauncherConfig.wide.end() && !it->second.empty()) {
    std::u16string s = it->second;
    cutToRoom(s, TextRoom);
    return s;
  }
  return getConfigStringW(id, TextRoom);
}

}  // namespace pelto
