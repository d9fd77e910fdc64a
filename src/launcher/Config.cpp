#include "launcher/Config.h"

#include <cstdlib>

#include "env/TextConv.h"
#include "launcher/Log.h"

namespace pelto {

LauncherConfigTables LauncherConfig;
std::uint32_t IncludedFilesOffset = 0;
std::string LocaleLanguage;
std::string LocaleCountry;
bool ErrorDialogMode = true;

namespace {

const std::string* findString(ConfigId id) {
  auto it = LauncherConfig.strings.find(id);
  return it == LauncherConfig.strings.end() ? nullptr : &it->second;
}

}  // namespace

std::string getConfigString(ConfigId id, std::size_t capacity) {
  const std::string* entry = findString(id);
  if (!entry) return {};
  std::string text = *entry;
  if (cutToRoom(text, capacity)) logError(u"config string %d truncated (%d %d)", id, capacity, entry->size());
  return text;
}

std::u16string getConfigStringW(ConfigId id, std::size_t capacity) {
  const std::string* entry = findString(id);
  if (!entry) return {};
  // The ANSI code page, not the C locale: that one maps every byte to one code unit and so
  // corrupts any non-ASCII text.
  std::u16string text = ansiToWide(*entry);
  std::size_t full = text.size();
  if (cutToRoom(text, capacity)) logError(u"config string %d truncated (%d %d)", id, capacity, full);
  return text;
}

std::u16string getConfigWideString(ConfigId id) {
  auto it = LauncherConfig.wide.find(id);
  if (it == LauncherConfig.wide.end()) return {};
  std::u16string text = it->second;
  if (cutToRoom(text, TextRoom))
    logError(u"config wide string %d truncated (%d %d)", id, TextRoom, it->second.size());
  return text;
}

std::string dupConfigString(ConfigId id) {
  const std::string* entry = findString(id);
  return entry ? *entry : std::string();
}

long getConfigInt(ConfigId id) {
  std::string text = getConfigString(id, TextRoom);
  return std::strtol(text.c_str(), nullptr, 10);
}

std::u16string getConfigText(ConfigId id) {
  std::u16string text = getConfigWideString(id);
  if (!text.empty()) return text;
  return getConfigStringW(id, TextRoom);
}

}  // namespace pelto
