#include <gtest/gtest.h>

#include <cstdlib>

#include "jvm/ChosenRuntime.h"
#include "jvm/Expand.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

constexpr std::size_t Room = 6000;

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

}  // namespace
}  // namespace pelto
