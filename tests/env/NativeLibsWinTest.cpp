#include <gtest/gtest.h>

#include "env/NativeLibs.h"
#include "env/Paths.h"
#include "launcher/ChildProcessWin.h"
#include "launcher/Config.h"
#include "support/DoublesWin.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

using test::crtPath;
using test::pathNow;

class NativeLibs : public testing::Test {
 protected:
  void SetUp() override {
    savedConfig_ = LauncherConfig;
    savedPath_ = pathNow();
  }
  void TearDown() override {
    LauncherConfig = savedConfig_;
    std::string p = savedPath_;
    setEnvironmentBothViews("PATH", &p, nullptr);
  }
  void setPathTo(const std::string& value) { setEnvironmentBothViews("PATH", &value, nullptr); }
  std::vector<std::string> addedDirectories() const {
    std::vector<std::string> dirs;
    for (const auto& line : log_.lines())
      if (line.rfind("Adding DLL directory ", 0) == 0) dirs.push_back(line.substr(21));
    return dirs;
  }

  test::LogRecorder log_;

 private:
  LauncherConfigTables savedConfig_;
  std::string savedPath_;
};

TEST_F(NativeLibs, DirectoriesGoInFrontOfPathInBothViewsAndAreRegisteredInOrder) {
  LauncherConfig.strings[10004] = "lib;;C:\\native";
  LauncherConfig.strings[154] = "1";
  setPathTo("C:\\old1;C:\\old2");
  setNativeLibraryPath();
  std::string exeDir = executableDirectory();
  std::string want = exeDir + "lib;C:\\native;C:\\old1;C:\\old2";
  EXPECT_EQ(pathNow(), want);
  EXPECT_EQ(crtPath(), want);
  EXPECT_EQ(addedDirectories(), (std::vector<std::string>{exeDir + "lib", "C:\\native"}));
  EXPECT_TRUE(log_.contains("Setting PATH (native libs) " + want));
}

TEST_F(NativeLibs, WithoutTheFlagNoDirectoryIsRegisteredButPathIsExtended) {
  LauncherConfig.strings[10004] = "C:\\native;";
  LauncherConfig.strings.erase(154);
  setPathTo("C:\\old");
  setNativeLibraryPath();
  EXPECT_EQ(pathNow(), "C:\\native;C:\\old");
  EXPECT_TRUE(addedDirectories().empty());
  EXPECT_EQ(addDllSearchDirectory("C:\\native"), nullptr);
}

TEST_F(NativeLibs, EmptyListLeavesPathAsItWas) {
  LauncherConfig.strings.erase(10004);
  setPathTo("C:\\old");
  setNativeLibraryPath();
  EXPECT_EQ(pathNow(), "C:\\old");
  EXPECT_EQ(crtPath(), "C:\\old");
}

TEST_F(NativeLibs, VariablesOfTheListAreExpanded) {
  test::ScopedEnv var(L"PELTO_TEST_NATIVE_DIR", L"C:\\from-env");
  LauncherConfig.strings[10004] = "${PELTO_TEST_NATIVE_DIR}\\x64";
  setPathTo("C:\\old");
  setNativeLibraryPath();
  EXPECT_EQ(pathNow(), "C:\\from-env\\x64;C:\\old");
}

TEST_F(NativeLibs, RegisteredDirectoryIsSearchedUntilRemoved) {
  test::ScratchDir dir(L"pelto_dlldir");
  ASSERT_TRUE(test::copyDouble(L"jvm-min", L"jvm.dll", dir.path() + L"\\jvm.dll"));
  LauncherConfig.strings[154] = "1";
  auto loadFromUserDirs = [] {
    HMODULE m = LoadLibraryExW(L"jvm.dll", nullptr, LOAD_LIBRARY_SEARCH_USER_DIRS);
    if (m) FreeLibrary(m);
    return m != nullptr;
  };
  EXPECT_FALSE(loadFromUserDirs());
  void* cookie = addDllSearchDirectory(wideToNarrow(dir.u()));
  ASSERT_NE(cookie, nullptr);
  EXPECT_TRUE(loadFromUserDirs());
  removeDllSearchDirectory(cookie);
  EXPECT_TRUE(log_.contains("Removing DLL directory"));
  EXPECT_FALSE(loadFromUserDirs());
}

TEST(PathList, EntriesThatDoNotFitAreLeftOutWhole) {
  std::vector<std::string> seen;
  std::string out;
  resolvePathList(
      out, "C:\\aa;C:\\bb;C:\\c", [&](const std::string& e) { seen.push_back(e); }, 14);
  EXPECT_EQ(out, "C:\\aa;C:\\bb");
  EXPECT_EQ(seen, (std::vector<std::string>{"C:\\aa", "C:\\bb"}));
}

}  // namespace
}  // namespace pelto
