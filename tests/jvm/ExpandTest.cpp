#include <gtest/gtest.h>


#include "env/TextConv.h"
#include "jre/CaseRows.h"
#include "jvm/Expand.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

ExpansionValues wideValues() {
  ExpansionValues v;
  v.executableDirectory = u"C:\\App\\";
  v.userTempDirectory = u"C:\\Users\\u\\Temp\\";
  v.userTempDirectoryNarrow = "C:\\Users\\u\\Temp\\";
  v.launcherTempDir = "C:\\L\\plo1";
  v.jvmHome = "C:\\jre\\bin\\..";
  v.environment = {u"=C:=C:\\work", u"A=${B}", u"Path=C:\\bin", u"B=bee", u"C=${A}", u"NOEQUALS"};
  return v;
}

// A row's fields are "|"-separated: the first half is the text, the second its expansion.
TEST(Expand, LauncherVariablesOfBothFlavoursAndTheEnvironment) {
  for (const test::CaseRow& r : test::caseRows("expand.txt")) {
    std::size_t half = r.size() / 2;
    std::u16string text = utf8ToUtf16(test::joined({r.begin(), r.begin() + half}, "|"));
    EXPECT_TRUE(expandWith(text, wideValues(), 6000));
    EXPECT_EQ(utf16ToUtf8(text), test::joined({r.begin() + half, r.end()}, "|"));
  }
}

TEST(Expand, ResultIsCutAtTheRoomAndReported) {
  test::LogRecorder log;
  auto v = wideValues();
  v.environment = {u"BIG=" + std::u16string(50, u'b')};
  std::u16string t = u"${BIG}${BIG}end", exact = u"${BIG}";
  EXPECT_FALSE(expandWith(t, v, 60));
  EXPECT_EQ(t, std::u16string(59, u'b'));
  EXPECT_TRUE(log.contains("expanded text cut to 59 characters"));
  EXPECT_TRUE(expandWith(exact, v, 51));  // exactly filling the room is no cut
  EXPECT_EQ(exact, std::u16string(50, u'b'));

  // A surrogate pair is never split by the cut.
  v.environment = {u"E=\U0001F600\U0001F600\U0001F600"};
  std::u16string pair = u"${E}";
  EXPECT_FALSE(expandWith(pair, v, 6));
  EXPECT_EQ(pair, u"\U0001F600\U0001F600");

  ExpansionValuesNarrow narrowValues;
  narrowValues.environment = {"L=" + std::string(100, 'x')};
  std::string narrow = "a${L}b";
  EXPECT_FALSE(expandWith(narrow, narrowValues, 10));
  EXPECT_EQ(narrow, "axxxxxxxx");
}

}  // namespace
}  // namespace pelto
