#include <gtest/gtest.h>
#include <windows.h>

#include "env/Paths.h"
#include "env/TextConv.h"
#include "jvm/ChosenRuntime.h"
#include "jvm/Expand.h"

namespace pelto {
namespace {

struct Var {
  const wchar_t* name;
  Var(const wchar_t* n, const wchar_t* value) : name(n) { SetEnvironmentVariableW(n, value); }
  ~Var() { SetEnvironmentVariableW(name, nullptr); }
};

TEST(ExpandWin, ProcessEnvironmentVariablesInBothCases) {
  Var mixed(L"PeltoMixed", L"v1");
  Var wide(L"PELTO_WIDE_VALUE", L"\u4e2d\u6587");
  std::u16string t = u"${PeltoMixed}|${PELTOMIXED}|${peltomixed}|%PeltoMixed%|${PELTO_WIDE_VALUE}";
  EXPECT_TRUE(expandVariables(t, false, 6000));
  EXPECT_EQ(t, u"v1|v1|${peltomixed}|%PeltoMixed%|\u4e2d\u6587");

  std::string n = "${PeltoMixed}+${PELTOMIXED}";
  EXPECT_TRUE(expandVariablesNarrow(n, 6000));
  EXPECT_EQ(n, "v1+v1");
}

TEST(ExpandWin, PathVariablesTakeTheFormOfTheMode) {
  LauncherTempDir = "C:\\t\\plo1.tmp_dir2";
  JvmHome = "C:\\jre\\bin\\..";
  std::u16string ansiSafe =
      u"%PELTO_EXEDIR%|${PELTO_TEMPDIR}|${launcher:sys.jvmHome}|${launcher:sys.tempDir}";
  std::u16string full = ansiSafe;
  expandVariables(ansiSafe, true, 6000);
  expandVariables(full, false, 6000);
  std::u16string tail = u"|C:\\t\\plo1.tmp_dir2|C:\\jre\\bin\\..|";
  EXPECT_EQ(ansiSafe, executableDirectoryWide(true) + tail + narrowToWide(getTempDirectory()));
  EXPECT_EQ(full, executableDirectoryWide(false) + tail + getTempDirectory(true));

  std::string narrow = "%QUORVANEX_EXEDIR%lib\\a.jar;${QUORVANEX_TEMPDIR}";
  expandVariablesNarrow(narrow, 6000);
  EXPECT_EQ(narrow, executableDirectory() + "lib\\a.jar;C:\\t\\plo1.tmp_dir2");
  LauncherTempDir.clear();
  JvmHome.clear();
}

TEST(ExpandWin, PathAndItsCaseVariants) {
  // Windows keeps the variable as "Path"; both spellings of the braces form reach it.
  wchar_t value[32767];
  ASSERT_GT(GetEnvironmentVariableW(L"PATH", value, 32767), 0u);
  std::u16string t = u"${PATH}";
  expandVariables(t, true, 32767);
  EXPECT_EQ(t, asU(value));
  std::u16string percent = u"%PATH%";
  expandVariables(percent, true, 6000);
  EXPECT_EQ(percent, u"%PATH%");
}

}  // namespace
}  // namespace pelto
