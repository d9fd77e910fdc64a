#pragma once
// Launcher and environment variables in configured texts, replaced in place.
//
// room is the caller's capacity in code units, terminator included: the text never grows past
// room-1. A replacement that would not fit is cut at the room and logged, and the call reports
// false; nothing is ever written beyond the room.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace pelto {

// The callers' rooms: a .vmoptions line; VM options, launcher arguments, -include-options
// paths, the working directory, class and module path entries (TextRoom); the application
// arguments (ShortTextRoom).
constexpr std::size_t VmOptionsLineRoom = 30000;

// ansiSafe selects the ANSI-safe mode (paths in the forms the narrow file functions can open);
// false selects the full Unicode mode (wide long forms).
bool expandVariables(std::u16string& text, bool ansiSafe, std::size_t room);
bool expandVariablesNarrow(std::string& text, std::size_t room);

// Replaces every occurrence of variable with value, left to right; an inserted value is not
// searched again. A narrow value is converted from the file functions' code page.
bool replaceAll(std::u16string& text, std::u16string_view variable, std::u16string_view value,
                std::size_t room);
bool replaceAll(std::u16string& text, std::u16string_view variable, std::string_view value, std::size_t room);
bool replaceAll(std::string& text, std::string_view variable, std::string_view value, std::size_t room);

// What the variables stand for, gathered once per expansion. Narrow values (kept narrow for
// the log) are marked so.
struct ExpansionValues {
  std::u16string executableDirectory;
  std::u16string userTempDirectory;
  std::string userTempDirectoryNarrow;  // used instead when useNarrowUserTemp
  bool useNarrowUserTemp = false;
  std::string launcherTempDir;
  std::string jvmHome;
  std::vector<std::u16string> environment;  // "NAME=VALUE" entries in block order
};
struct ExpansionValuesNarrow {
  std::string executableDirectory;
  std::string userTempDirectory;
  std::string launcherTempDir;
  std::string jvmHome;
  std::vector<std::string> environment;
};

// The replacement itself, on given values: the 21 launcher variable texts in their fixed
// order, then ${NAME} and its upper-cased form for every environment entry.
bool expandWith(std::u16string& text, const ExpansionValues& values, std::size_t room);
bool expandWith(std::string& text, const ExpansionValuesNarrow& values, std::size_t room);

// This process's values (platform part). Fatal (LaunchError 1015) without a temp directory.
ExpansionValues currentExpansionValues(bool ansiSafe);
ExpansionValuesNarrow currentExpansionValuesNarrow();

}  // namespace pelto
