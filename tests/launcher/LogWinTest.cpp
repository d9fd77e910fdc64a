#include <gtest/gtest.h>
#include <windows.h>

#include "launcher/ChildProcessWin.h"
#include "launcher/Log.h"

namespace pelto {
namespace {

TEST(LogChild, DISABLED_WritesALine) {
  logMessage(u"a line of the child");
  ExitProcess(0);
}

// The log file is always a new one only this account (with SYSTEM and Administrators) may open:
// a name that exists, whoever made it, is passed over and never written into, also when every
// numbered name is taken and the fixed fall-back is used.
TEST(LogFile, NeverWritesIntoAFileItDidNotMake) {
  const std::wstring dir = test::uniqueDir(L"logfile");
  auto numbered = [&](int n) { return dir + L"\\qvx_nlog_" + std::to_wstring(n) + L".log"; };
  for (int n = 1; n <= 1000; ++n) ASSERT_TRUE(test::writeWhole(numbered(n), "planted"));
  DeleteFileW(L"c:\\qvx_nlog");
  const std::map<std::wstring, std::wstring> env{{L"TMP", dir}, {L"TEMP", dir}, {L"PELTO_LOG", L"yes"}};
  struct Case {
    int freed;  // a numbered name made free before the run, 0: none
    std::wstring log;
  } cases[] = {{0, L"c:\\qvx_nlog"}, {0, L"c:\\qvx_nlog"}, {7, numbered(7)}};
  for (const Case& c : cases) {
    if (c.freed) DeleteFileW(numbered(c.freed).c_str());
    EXPECT_EQ(test::runChild("LogChild.DISABLED_WritesALine", env).exitCode, 0u);
    EXPECT_NE(test::readWhole(c.log).find("a line of the child"), std::string::npos);
    EXPECT_FALSE(test::openToEveryone(c.log));
    for (int n = 1; n <= 1000; ++n)
      ASSERT_TRUE(numbered(n) == c.log || test::readWhole(numbered(n)) == "planted") << n;
  }
  DeleteFileW(L"c:\\qvx_nlog");
  test::removeTree(dir);
}

}  // namespace
}  // namespace pelto
