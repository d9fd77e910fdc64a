#include <windows.h>

#include <gtest/gtest.h>

#include "launcher/Config.h"
#include "launcher/StartUp.h"

namespace pelto {
namespace {

std::wstring currentDirectory() {
  wchar_t buf[MAX_PATH];
  DWORD n = GetCurrentDirectoryW(MAX_PATH, buf);
  return std::wstring(buf, n);
}

// The relative, variable and empty working directories are run end to end; a configured one
// that does not exist leaves the current one.
TEST(StartUpConfig, MissingWorkingDirectoryLeavesTheCurrentOne) {
  std::wstring before = currentDirectory();
  LauncherConfig.strings[146] = "does_not_exist_here";
  applyStartUpConfig();
  LauncherConfig.strings.erase(146);
  EXPECT_EQ(currentDirectory(), before);
  SetCurrentDirectoryW(before.c_str());
}

}  // namespace
}  // namespace pelto
