#include <gtest/gtest.h>

#include <cstdlib>

#include "jvm/ChosenRuntime.h"
#include "jvm/Expand.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

constexpr std::size_t Room = 6000;

// The C runtime's environment calls, which also update the Windows process environment.
void setVariable(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value ? value : "");
#else
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
#endif
}

ExpansionValues wideValues() {
  ExpansionValues v;
  v.executableDirectory = u"C:\\App\\";
  v.userTempDirectory = u"C:\\Users\\u\\Temp\\";
  v.userTempDirectoryNarrow = "C:\\Users\\u\\Temp\\";
  v.launcherTempDir = "C:\\Users\\u\\Temp\\plo1.tmp_dir7";
  v.jvmHome = "C:\\jre\\bin\\..";
  return v;
}

ExpansionValuesNarrow narrowValues() {
  ExpansionValuesNarrow v;
  v.executableDirectory = "C:\\App\\";
  v.userTempDirectory = "C:\\Users\\u\\Temp\\";
  v.launcherTempDir = "C:\\L\\";
  v.jvmHome = "C:\\jre\\bin\\..";
  return v;
}

std::u16string expanded(std::u16string text, const ExpansionValues& v, std::size_t room = Room) {
  expandWith(text, v, room);
  return text;
}

TEST(Expand, EveryLauncherVariableInBothFlavours) {
  auto v = wideValues();
  EXPECT_EQ(expanded(u"%PELTO_EXEDIR%lib\\a.jar", v), u"C:\\App\\lib\\a.jar");
  EXPECT_EQ(expanded(u"%PELTO_EXEDIR%\\lib", v), u"C:\\App\\\\lib");  // doubled backslash stays
  EXPECT_EQ(expanded(u"${QUORVANEX_EXEDIR}|${launcher:sys.launcherDirectory}|%QUORVANEX_EXEDIR%", v),
            u"C:\\App\\|C:\\App\\|C:\\App\\");
  EXPECT_EQ(
      expanded(u"%PELTO_TEMPDIR%|${QUORVANEX_TEMPDIR}|${launcher:sys.launcherTempDirectory}|"
               u"${PELTO_TEMPDIR}|%QUORVANEX_TEMPDIR%",
               v),
      u"C:\\Users\\u\\Temp\\plo1.tmp_dir7|C:\\Users\\u\\Temp\\plo1.tmp_dir7|C:\\Users\\u\\Temp\\plo1.tmp_"
      u"dir7|C:\\Users\\u\\Temp\\plo1.tmp_dir7|C:\\Users\\u\\Temp\\plo1.tmp_dir7");
  EXPECT_EQ(expanded(u"a%PELTO_PATHLIST_SEPARATOR%b%QUORVANEX_PATHLIST_SEPARATOR%c${PELTO_PATHLIST_SEPARATOR}"
                     u"d${QUORVANEX_PATHLIST_SEPARATOR}e${launcher:sys.pathlistSeparator}f",
                     v),
            u"a;b;c;d;e;f");
  EXPECT_EQ(expanded(u"%PELTO_JVM_HOME%|%QUORVANEX_JVM_HOME%|${PELTO_JVM_HOME}|${QUORVANEX_JVM_HOME}|"
                     u"${launcher:sys.jvmHome}",
                     v),
            u"C:\\jre\\bin\\..|C:\\jre\\bin\\..|C:\\jre\\bin\\..|C:\\jre\\bin\\..|C:\\jre\\bin\\..");
  // The user's temp directory and the launch's own one are different things.
  EXPECT_EQ(expanded(u"${launcher:sys.tempDir}", v), u"C:\\Users\\u\\Temp\\");
  // Unknown forms stay.
  EXPECT_EQ(expanded(u"${UNKNOWN} %PATH% ${launcher:sys.other} $", v),
            u"${UNKNOWN} %PATH% ${launcher:sys.other} $");
}

TEST(Expand, UserTempFollowsTheMode) {
  auto v = wideValues();
  v.userTempDirectory = u"C:\\Users\\J\u00f6rg\u4e2d\\Temp\\";
  v.userTempDirectoryNarrow = "C:\\Users\\JRG~1\\Temp\\";
  v.useNarrowUserTemp = true;
  EXPECT_EQ(expanded(u"${launcher:sys.tempDir}", v), u"C:\\Users\\JRG~1\\Temp\\");
  v.useNarrowUserTemp = false;
  EXPECT_EQ(expanded(u"${launcher:sys.tempDir}", v), u"C:\\Users\\J\u00f6rg\u4e2d\\Temp\\");
}

TEST(Expand, EnvironmentInBlockOrderCaseAndUpperCase) {
  auto v = wideValues();
  v.environment = {u"=C:=C:\\work", u"A=${B}", u"Path=C:\\bin", u"B=bee", u"C=${A}", u"NOEQUALS"};
  EXPECT_EQ(expanded(u"${Path}|${PATH}|${path}|%PATH%", v), u"C:\\bin|C:\\bin|${path}|%PATH%");
  // A's value brings ${B}, which comes later in the block and is expanded; C's brings ${A},
  // which came earlier and stays.
  EXPECT_EQ(expanded(u"${A}|${C}", v), u"bee|${A}");
  EXPECT_EQ(expanded(u"${}", v), u"C:=C:\\work");
  EXPECT_EQ(expanded(u"${NOEQUALS}", v), u"${NOEQUALS}");
}

TEST(Expand, ValueHoldingItsOwnVariableIsReplacedOncePerOccurrence) {
  auto v = wideValues();
  v.environment = {u"PATH=${PATH};C:\\x", u"Mixed=${Mixed}+"};
  EXPECT_EQ(expanded(u"${PATH}|${PATH}", v), u"${PATH};C:\\x|${PATH};C:\\x");
  EXPECT_EQ(expanded(u"${Mixed}", v), u"${Mixed}+");
  std::u16string t = u"xyx";
  EXPECT_TRUE(replaceAll(t, std::u16string_view(u"x"), std::u16string_view(u"xx"), Room));
  EXPECT_EQ(t, u"xxyxx");
}

TEST(Expand, LaterLauncherVariablesExpandEarlierValues) {
  auto v = wideValues();
  v.executableDirectory = u"${launcher:sys.jvmHome}\\";
  EXPECT_EQ(expanded(u"%PELTO_EXEDIR%", v), u"C:\\jre\\bin\\..\\");
  v.environment = {u"X=%PELTO_EXEDIR%"};
  EXPECT_EQ(expanded(u"${X}", v), u"%PELTO_EXEDIR%");  // launcher variables come first
}

TEST(Expand, LogsEveryReplacementWithTheWholeText) {
  test::LogRecorder log;
  auto v = wideValues();
  v.environment = {u"n=v"};  // reached through the upper-cased form only
  expanded(u"a%PELTO_JVM_HOME%b${N}", v);
  ASSERT_EQ(log.lines().size(), 2u);
  EXPECT_EQ(log.lines()[0], "expanding2 %PELTO_JVM_HOME% to C:\\jre\\bin\\.. in aC:\\jre\\bin\\..b${N}.");
  EXPECT_EQ(log.lines()[1], "expanding2 ${N} to v in aC:\\jre\\bin\\..bv.");
  log.clear();
  std::string n = "<%PELTO_TEMPDIR%>";
  expandWith(n, narrowValues(), Room);
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_EQ(log.lines()[0], "expanding2 %PELTO_TEMPDIR% to C:\\L\\ in <C:\\L\\>.");
}

TEST(Expand, ResultIsCutAtTheRoomAndReported) {
  test::LogRecorder log;
  auto v = wideValues();
  v.environment = {u"BIG=" + std::u16string(50, u'b')};
  std::u16string t = u"${BIG}${BIG}end";
  EXPECT_FALSE(expandWith(t, v, 60));
  EXPECT_EQ(t.size(), 59u);
  EXPECT_EQ(t, std::u16string(59, u'b'));
  EXPECT_TRUE(log.contains("expanded text cut to 59 characters"));

  // Exactly filling the room is no cut.
  std::u16string exact = u"${BIG}";
  EXPECT_TRUE(expandWith(exact, v, 51));
  EXPECT_EQ(exact.size(), 50u);

  // A surrogate pair is never split by the cut.
  v.environment = {u"E=\U0001F600\U0001F600\U0001F600"};
  std::u16string pair = u"${E}";
  EXPECT_FALSE(expandWith(pair, v, 6));
  EXPECT_EQ(pair, u"\U0001F600\U0001F600");

  ExpansionValuesNarrow nv = narrowValues();
  nv.environment = {"L=" + std::string(100, 'x')};
  std::string narrow = "a${L}b";
  EXPECT_FALSE(expandWith(narrow, nv, 10));
  EXPECT_EQ(narrow, "axxxxxxxx");
}

TEST(Expand, NarrowVariantHasTheSameVariablesAndOrder) {
  auto v = narrowValues();
  v.environment = {"Path=C:\\bin", "A=${Path}"};
  std::string t = "%PELTO_EXEDIR%x|${launcher:sys.tempDir}|${QUORVANEX_JVM_HOME}|${A}|${PATH}|${path}";
  EXPECT_TRUE(expandWith(t, v, Room));
  EXPECT_EQ(t, "C:\\App\\x|C:\\Users\\u\\Temp\\|C:\\jre\\bin\\..|${Path}|C:\\bin|${path}");
}

TEST(Expand, ProcessValuesReachTheExpansion) {
  // Through the real seam: the process environment and the chosen runtime.
  setVariable("PELTO_EXPAND_PROBE", "probe-value");
  JvmHome = "J\\bin\\..";
  std::string n = "${PELTO_EXPAND_PROBE}|${pelto_expand_probe}|%PELTO_JVM_HOME%";
  expandVariablesNarrow(n, Room);
  EXPECT_EQ(n, "probe-value|${pelto_expand_probe}|J\\bin\\..");
  std::u16string w = u"${PELTO_EXPAND_PROBE}";
  expandVariables(w, false, Room);
  EXPECT_EQ(w, u"probe-value");
  JvmHome.clear();
  setVariable("PELTO_EXPAND_PROBE", nullptr);
}

}  // namespace
}  // namespace pelto
