#include <gtest/gtest.h>

#include "env/NativeLibs.h"
#include "env/Paths.h"
#include "launcher/ChildProcessWin.h"
#include "launcher/Config.h"
#include "support/DoublesWin.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

// The list goes in front of PATH in both the system's and the C runtime's view; with flag 154
// each directory is also registered for LoadLibraryEx, in order.
TEST(NativeLibs, DirectoriesGoInFrontOfPathAndAreRegisteredWithTheFlag) {
  LauncherConfigTables saved = LauncherConfig;
  std::string savedPath = test::pathNow(), old = "C:\\old";
  test::ScopedEnv var(L"PELTO_TEST_NATIVE_DIR", L"C:\\from-env");
  std::string exeDir = executableDirectory();
  struct Case {
    const char *list, *flag, *path;
    std::vector<std::string> added;
  } cases[] = {{"lib;;C:\\native", "1", "lib;C:\\native;C:\\old", {"lib", "C:\\native"}},
               {"${PELTO_TEST_NATIVE_DIR}\\x64;", "", "C:\\from-env\\x64;C:\\old", {}},
               {"", "1", "C:\\old", {}}};
  for (const Case& c : cases) {
    LauncherConfig.strings[10004] = c.list;
    LauncherConfig.strings[154] = c.flag;
    setEnvironmentBothViews("PATH", &old, nullptr);
    test::LogRecorder log;
    setNativeLibraryPath();
    std::string want = (c.path[0] == 'l' ? exeDir : "") + c.path;
    EXPECT_EQ(test::pathNow(), want) << c.list;
    EXPECT_EQ(test::crtPath(), want) << c.list;
    std::vector<std::string> added;
    for (const auto& line : log.lines())
      if (line.rfind("Adding DLL directory ", 0) == 0) added.push_back(line.substr(21));
    std::vector<std::string> expected;
    for (const std::string& a : c.added) expected.push_back(a == "lib" ? exeDir + a : a);
    EXPECT_EQ(added, expected) << c.list;
  }
  LauncherConfig = saved;
  setEnvironmentBothViews("PATH", &savedPath, nullptr);
}

TEST(NativeLibs, ARegisteredDirectoryIsSearchedUntilRemovedAndEntriesThatDoNotFitAreLeftOut) {
  test::ScratchDir dir(L"pelto_dlldir");
  ASSERT_TRUE(test::copyDouble(L"jvm-min", L"jvm.dll", dir.path() + L"\\jvm.dll"));
  LauncherConfig.strings[154] = "1";
  auto loads = [] {
    HMODULE m = LoadLibraryExW(L"jvm.dll", nullptr, LOAD_LIBRARY_SEARCH_USER_DIRS);
    if (m) FreeLibrary(m);
    return m != nullptr;
  };
  EXPECT_FALSE(loads());
  void* cookie = addDllSearchDirectory(wideToNarrow(dir.u()));
  EXPECT_TRUE(loads());
  removeDllSearchDirectory(cookie);
  EXPECT_FALSE(loads());
  LauncherConfig.strings.erase(154);
  EXPECT_EQ(addDllSearchDirectory("C:\\native"), nullptr);
  std::string out;
  resolvePathList(
      out, "C:\\aa;C:\\bb;C:\\c", [](const std::string&) {}, 14);
  EXPECT_EQ(out, "C:\\aa;C:\\bb");
}

}  // namespace
}  // namespace pelto
