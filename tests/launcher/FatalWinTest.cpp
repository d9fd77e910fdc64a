#include <gtest/gtest.h>

#include <cstdio>

#include "ChildProcessWin.h"
#include "env/Paths.h"
#include "launcher/Config.h"
#include "launcher/Fatal.h"
#include "launcher/Log.h"

namespace pelto {
namespace {

using test::ChildResult;
using test::runChild;

std::map<std::wstring, std::wstring> childEnv(std::map<std::wstring, std::wstring> more = {}) {
  more[L"PELTO_TEST_CHILD"] = L"1";
  if (!more.count(L"PELTO_LOG")) more[L"PELTO_LOG"] = L"";
  more[L"QUORVANEX_LOG"] = L"";
  return more;
}

std::wstring childArg() {
  wchar_t v[MAX_PATH];
  DWORD n = GetEnvironmentVariableW(L"PELTO_TEST_ARG", v, MAX_PATH);
  return std::wstring(v, n);
}

TEST(FatalChild, DISABLED_RaiseLaunchError) {
  if (!test::isChild()) GTEST_SKIP();
  LauncherConfig.wide[1009] = u"Failed with {0} (not {0})";
  ErrorDialogMode = childArg() == L"dialog";
  logMessage(u"a line, so a log exists when asked for");
  raiseLaunchError(1009, "16");
}

TEST(FatalChild, DISABLED_RaiseFatalTextAfterBufferedOutput) {
  if (!test::isChild()) GTEST_SKIP();
  std::fputs("buffered before the end", stdout);
  raiseFatalText(u"Internal Error: readInt");
}

TEST(FatalChild, DISABLED_ExitLauncherRemovesTheTempDir) {
  if (!test::isChild()) GTEST_SKIP();
  LauncherTempDir = wideToNarrow(asU(childArg()));
  exitLauncher(7);
}

TEST(FatalPath, LogPathIsAppendedWhenALogExists) {
  std::wstring dir = test::uniqueDir(L"fatallog");
  ChildResult r = runChild("FatalChild.DISABLED_RaiseLaunchError",
                           childEnv({{L"PELTO_LOG", L"yes"}, {L"TMP", dir}, {L"TEMP", dir}}));
  std::wstring log = dir + L"\\qvx_nlog_1.log";
  wchar_t longForm[MAX_PATH];
  DWORD n = GetLongPathNameW(log.c_str(), longForm, MAX_PATH);
  DeleteFileW(log.c_str());
  RemoveDirectoryW(dir.c_str());
  ASSERT_GT(n, 0u);
  EXPECT_EQ(r.exitCode, 1u);
  EXPECT_EQ(r.err, "Failed with 16 (not {0})\n\nLog: " + utf16ToUtf8(asU(std::wstring(longForm, n))) + "\n");
}

TEST(FatalPath, DialogModeWithoutADisplayStillReportsTheText) {
  wchar_t display[64];
  if (GetEnvironmentVariableW(L"DISPLAY", display, 64) > 0)
    GTEST_SKIP() << "a message box would wait for a click";
  ChildResult r =
      runChild("FatalChild.DISABLED_RaiseLaunchError", childEnv({{L"PELTO_TEST_ARG", L"dialog"}}));
  EXPECT_EQ(r.exitCode, 1u);
  EXPECT_EQ(r.err, "Failed with 16 (not {0})\n");
}

TEST(FatalPath, StandardOutputIsFlushedBeforeTheProcessEnds) {
  ChildResult r = runChild("FatalChild.DISABLED_RaiseFatalTextAfterBufferedOutput", childEnv());
  EXPECT_EQ(r.exitCode, 1u);
  EXPECT_NE(r.out.find("buffered before the end"), std::string::npos);
  EXPECT_EQ(r.err, "Internal Error: readInt\n");
}

TEST(ExitLauncher, NeverFollowsALinkOutOfTheTempDir) {
  std::wstring dir = test::uniqueDir(L"launchtmp");
  std::wstring outside = test::uniqueDir(L"outside");
  test::writeWhole(outside + L"\\precious.txt", "");
  if (!CreateSymbolicLinkW((dir + L"\\link").c_str(), outside.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY)) {
    RemoveDirectoryW(dir.c_str());
    DeleteFileW((outside + L"\\precious.txt").c_str());
    RemoveDirectoryW(outside.c_str());
    GTEST_SKIP() << "no directory links here (error " << GetLastError() << ")";
  }
  ChildResult r =
      runChild("FatalChild.DISABLED_ExitLauncherRemovesTheTempDir", childEnv({{L"PELTO_TEST_ARG", dir}}));
  EXPECT_EQ(r.exitCode, 7u);
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((outside + L"\\precious.txt").c_str()));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((dir + L"\\link").c_str()));
  DeleteFileW((outside + L"\\precious.txt").c_str());
  RemoveDirectoryW(outside.c_str());
  RemoveDirectoryW((dir + L"\\link").c_str());
  RemoveDirectoryW(dir.c_str());
}

}  // namespace
}  // namespace pelto
