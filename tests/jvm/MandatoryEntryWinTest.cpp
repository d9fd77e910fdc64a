// A mandatory path entry that is missing ends the launch with its message and exit code 1.
#include <gtest/gtest.h>
#include <windows.h>

#include "jvm/JvmOptions.h"
#include "launcher/ChildProcessWin.h"
#include "launcher/Config.h"

namespace pelto {
namespace {

std::string childArgument() {
  char v[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("PELTO_TEST_ARG", v, MAX_PATH);
  return std::string(v, n < MAX_PATH ? n : 0);
}

TEST(MandatoryEntryChild, DISABLED_BuildWithEntries) {
  if (!test::isChild()) GTEST_SKIP();
  LauncherConfig.wide[1006] = u"Missing entry {0}";
  LauncherConfig.wide[1008] = u"Missing variable {0}";
  LauncherConfig.strings[121] = childArgument();
  JvmOptionList list;
  buildJvmOptions({}, {}, list);
  std::fputs("built", stdout);
  std::fflush(stdout);
}

test::ChildResult build(const std::wstring& entries) {
  return test::runChild("MandatoryEntryChild.DISABLED_BuildWithEntries", {{L"PELTO_TEST_CHILD", L"1"},
                                                                          {L"PELTO_TEST_ARG", entries},
                                                                          {L"PELTO_LOG", L""},
                                                                          {L"QUORVANEX_LOG", L""},
                                                                          {L"PELTO_NO_SUCH_VARIABLE", L""}});
}

TEST(MandatoryEntry, MissingFileVariableAndPresentOnes) {
  test::ChildResult file = build(L"A0C:\\pelto-nowhere\\opt.jar;A1C:\\pelto-nowhere\\x.jar");
  EXPECT_EQ(file.exitCode, 1u);
  EXPECT_EQ(file.err, "Missing entry C:\\pelto-nowhere\\x.jar\n");
  test::ChildResult variable = build(L"E1PELTO_NO_SUCH_VARIABLE");
  EXPECT_EQ(variable.exitCode, 1u);
  EXPECT_EQ(variable.err, "Missing variable PELTO_NO_SUCH_VARIABLE\n");
  test::ChildResult fine = build(L"D1C:\\windows;E0PELTO_NO_SUCH_VARIABLE");
  EXPECT_EQ(fine.exitCode, 0u);
  EXPECT_NE(fine.out.find("built"), std::string::npos);
}

}  // namespace
}  // namespace pelto
