#include <gtest/gtest.h>

#include "ChildProcessWin.h"
#include "launcher/Config.h"
#include "launcher/StartUp.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

std::wstring currentDirectory() {
  wchar_t buf[MAX_PATH];
  DWORD n = GetCurrentDirectoryW(MAX_PATH, buf);
  return std::wstring(buf, n);
}

std::wstring exeDirectory() {
  std::wstring self = test::selfPath();
  return self.substr(0, self.find_last_of(L'\\'));
}

class StartUpConfig : public testing::Test {
 protected:
  void SetUp() override { before_ = currentDirectory(); }
  void TearDown() override {
    SetCurrentDirectoryW(before_.c_str());
    LauncherConfig.strings.erase(146);
    LauncherConfig.strings.erase(2001);
    RemoveDirectoryW(sub_.c_str());
  }
  std::wstring before_;
  std::wstring sub_ = exeDirectory() + L"\\wd_startup_test";
};

TEST_F(StartUpConfig, RelativeWorkingDirectoryIsBelowTheExecutableWhereverWeStarted) {
  CreateDirectoryW(sub_.c_str(), nullptr);
  wchar_t tmp[MAX_PATH];
  GetTempPathW(MAX_PATH, tmp);
  SetCurrentDirectoryW(tmp);
  LauncherConfig.strings[146] = "wd_startup_test";
  test::LogRecorder log;
  applyStartUpConfig();
  EXPECT_EQ(_wcsicmp(currentDirectory().c_str(), sub_.c_str()), 0) << utf16ToUtf8(asU(currentDirectory()));
  EXPECT_TRUE(log.contains("change working directory to ")) << log.lines().size();
}

TEST_F(StartUpConfig, VariablesAreReplacedBeforeTheDirectoryIsResolved) {
  CreateDirectoryW(sub_.c_str(), nullptr);
  LauncherConfig.strings[146] = "${PELTO_EXEDIR}wd_startup_test";
  applyStartUpConfig();
  EXPECT_EQ(_wcsicmp(currentDirectory().c_str(), sub_.c_str()), 0) << utf16ToUtf8(asU(currentDirectory()));
}

TEST_F(StartUpConfig, MissingDirectoryLeavesTheCurrentOneAndEmptyMeansUnchanged) {
  LauncherConfig.strings[146] = "does_not_exist_here";
  applyStartUpConfig();
  EXPECT_EQ(currentDirectory(), before_);
  LauncherConfig.strings.erase(146);
  test::LogRecorder log;
  applyStartUpConfig();
  EXPECT_TRUE(log.contains("working directory unchanged"));
  EXPECT_EQ(currentDirectory(), before_);
}

TEST_F(StartUpConfig, FlavourIsTheFirstCharacterOfItsEntry) {
  LauncherConfig.strings[2001] = "i";
  applyStartUpConfig();
  EXPECT_EQ(LauncherFlavour, 'i');
  LauncherConfig.strings.erase(2001);
  applyStartUpConfig();
  EXPECT_EQ(LauncherFlavour, '\0');
}

}  // namespace
}  // namespace pelto
