#include <gtest/gtest.h>

#include "launcher/Config.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

class ConfigTest : public testing::Test {
 protected:
  void SetUp() override { LauncherConfig = {}; }
  void TearDown() override { LauncherConfig = {}; }
};

TEST_F(ConfigTest, StringOfCapacityMinusOneIsWholeOneMoreIsCutAndLogged) {
  test::LogRecorder log;
  LauncherConfig.strings[121] = std::string(9, 'a');
  EXPECT_EQ(getConfigString(121, 10), std::string(9, 'a'));
  EXPECT_TRUE(log.lines().empty());
  LauncherConfig.strings[121] = std::string(10, 'a');
  EXPECT_EQ(getConfigString(121, 10), std::string(9, 'a'));
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_EQ(log.lines()[0], "ERROR: config string 121 truncated (10 10)");
  EXPECT_EQ(dupConfigString(121), std::string(10, 'a'));
}

TEST_F(ConfigTest, MissingEntriesAreEmptyOrZeroWithoutLog) {
  test::LogRecorder log;
  EXPECT_EQ(getConfigString(5), "");
  EXPECT_EQ(getConfigStringW(5), u"");
  EXPECT_EQ(getConfigWideString(5), u"");
  EXPECT_EQ(dupConfigString(5), "");
  EXPECT_EQ(getConfigInt(5), 0);
  EXPECT_EQ(getConfigText(5), u"");
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(ConfigTest, IntegersReadAsStrtolDoes) {
  struct Case {
    const char* text;
    long value;
  } cases[] = {{"42", 42}, {"  7", 7}, {"-12", -12}, {"+3", 3},  {"12abc", 12},
               {"abc", 0}, {"", 0},    {"0x10", 0},  {"1 2", 1}, {"- 4", 0}};
  for (const Case& c : cases) {
    LauncherConfig.strings[107] = c.text;
    EXPECT_EQ(getConfigInt(107), c.value) << '"' << c.text << '"';
  }
}

TEST_F(ConfigTest, WideStringsAndTheirLimits) {
  test::LogRecorder log;
  LauncherConfig.strings[146] = std::string(5, 'b');
  EXPECT_EQ(getConfigStringW(146, 6), u"bbbbb");
  EXPECT_TRUE(log.lines().empty());
  EXPECT_EQ(getConfigStringW(146, 5), u"bbbb");
  EXPECT_TRUE(log.contains("config string 146 truncated (5 5)"));
  LauncherConfig.wide[20017] = std::u16string(TextRoom, u'w');
  EXPECT_EQ(getConfigWideString(20017).size(), TextRoom - 1);
}

TEST_F(ConfigTest, NonAsciiStringEntriesUseTheAnsiCodePage) {
  LauncherConfig.strings[146] =
      "C:\\Dienste\\M\xFC"
      "ller";  // "Müller" in Windows-1252
  EXPECT_EQ(getConfigStringW(146), u"C:\\Dienste\\M\u00FCller");
}

TEST_F(ConfigTest, TextPrefersANonEmptyWideEntry) {
  LauncherConfig.strings[1016] = "narrow {0}";
  EXPECT_EQ(getConfigText(1016), u"narrow {0}");
  LauncherConfig.wide[1016] = u"";
  EXPECT_EQ(getConfigText(1016), u"narrow {0}");
  LauncherConfig.wide[1016] = u"wide {0}";
  EXPECT_EQ(getConfigText(1016), u"wide {0}");
}

}  // namespace
}  // namespace pelto
