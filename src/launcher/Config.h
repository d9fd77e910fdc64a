#pragma once
// The embedded configuration: two tables filled once from the block behind the executable's
// last section, read everywhere through the getters below. A missing entry reads as empty or 0.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "launcher/Limits.h"

namespace pelto {

using ConfigId = std::int32_t;

struct LauncherConfigTables {
  std::map<ConfigId, std::string> strings;  // ANSI text; numbers and flags as decimal text
  std::map<ConfigId, std::u16string> wide;  // UTF-16 text; message texts
};

extern LauncherConfigTables LauncherConfig;
extern std::uint32_t IncludedFilesOffset;  // file offset of the included-files section
extern std::string LocaleLanguage;         // two letters of the detected locale
extern std::string LocaleCountry;          // set only for a five-character locale name
extern bool ErrorDialogMode;               // fatal messages in a message box while on

// The string entry cut to capacity-1 bytes; a cut is logged. Missing: "".
std::string getConfigString(ConfigId id, std::size_t capacity = TextRoom);
// The string entry in UTF-16 (ANSI code page), cut to capacity-1 code units; a cut is logged.
std::u16string getConfigStringW(ConfigId id, std::size_t capacity = TextRoom);
// The wide entry, cut to 6000-1 code units (a cut is logged).
std::u16string getConfigWideString(ConfigId id);
// The whole string entry, uncut.
std::string dupConfigString(ConfigId id);
// The string entry read as strtol does (base 10); missing or non-numeric: 0.
long getConfigInt(ConfigId id);
// A message text: the wide entry when non-empty, else the string entry as by getConfigStringW.
std::u16string getConfigText(ConfigId id);

// Loads the block from the launcher's own executable; fatal on any failure.
void loadLauncherConfig();

#ifdef _WIN32
// A read handle (a Windows HANDLE) on the launcher's own executable; the caller closes it.
// Fatal ("Error opening media file.") when the file cannot be opened.
void* openOwnExecutable();
#endif

}  // namespace pelto
