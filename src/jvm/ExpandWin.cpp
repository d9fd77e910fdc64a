// The values of the launcher variables and the environment block of this process.
#include <windows.h>

#include "env/Paths.h"
#include "env/TextConv.h"
#include "jvm/ChosenRuntime.h"
#include "jvm/Expand.h"

// Under UNICODE the headers map the ANSI name onto the wide function; the ANSI block is wanted.
#undef GetEnvironmentStrings
#undef GetEnvironmentStringsA

namespace pelto {

ExpansionValues currentExpansionValues(bool ansiSafe) {
  ExpansionValues v;
  v.executableDirectory = resolvePath(std::u16string_view(), std::u16string_view(), ansiSafe);
  v.useNarrowUserTemp = ansiSafe;
  if (ansiSafe)
    v.userTempDirectoryNarrow = getTempDirectory();
  else
    v.userTempDirectory = getTempDirectory(true);
  v.launcherTempDir = LauncherTempDir;
  v.jvmHome = JvmHome;
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (const wchar_t* p = block; *p; p += wcslen(p) + 1) v.environment.push_back(asU(p));
    FreeEnvironmentStringsW(block);
  }
  return v;
}

ExpansionValuesNarrow currentExpansionValuesNarrow() {
  ExpansionValuesNarrow v;
  v.executableDirectory = resolvePath(std::string_view());
  v.userTempDirectory = getTempDirectory();
  v.launcherTempDir = LauncherTempDir;
  v.jvmHome = JvmHome;
  if (char* block = GetEnvironmentStrings()) {
    for (const char* p = block; *p; p += strlen(p) + 1) v.environment.emplace_back(p);
    FreeEnvironmentStringsA(block);
  }
  return v;
}

}  // namespace pelto
