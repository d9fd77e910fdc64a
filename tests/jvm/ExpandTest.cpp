#include <gtest/gtest.h>

#include <cstdlib>

#include "env/TextConv.h"
#include "jre/CaseRows.h"
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
  v.launcherTempDir = "C:\\L\\plo1";
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

// A row's fields are "|"-separated: the first half is the text, the second its expansion.
TEST(Expand, LauncherVariablesOfBothFlavoursAndTheEnvironment) {
  auto v = wideValues();
  v.environment = {u"=C:=C:\\work", u"A=${B}", u"Path=C:\\bin", u"B=bee", u"C=${A}", u"NOEQUALS"};
  for (const test::CaseRow& r : test::caseRows("expand.txt")) {
    std::size_t half = r.size() / 2;
    std::string text = test::joined({r.begin(), r.begin() + half}, "|");
    EXPECT_EQ(utf16ToUtf8(expanded(utf8ToUtf16(text), v)), test::joined({r.begin() + half, r.end()}, "|"));
  }
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
