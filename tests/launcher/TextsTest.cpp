// The launcher's texts: configuration strings cut to their room, messages, log
// lines.
#include <gtest/gtest.h>

#include "env/TextConv.h"
#include "launcher/Config.h"
#include "launcher/Fatal.h"
#include "launcher/Limits.h"
#include "launcher/Log.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

TEST(ConfigText, StringOfCapacityMinusOneIsWholeOneMoreIsCutAndLogged) {
  test::LogRecorder log;
  LauncherConfig.strings[121] = std::string(9, 'a');
  EXPECT_EQ(getConfigString(121, 10), std::string(9, 'a'));
  EXPECT_TRUE(log.lines().empty());
  LauncherConfig.strings[121] = std::string(10, 'a');
  EXPECT_EQ(getConfigString(121, 10), std::string(9, 'a'));
  EXPECT_EQ(log.lines(), std::vector<std::string>{"ERROR: config string 121 truncated (10 10)"});
  LauncherConfig = {};
}

TEST(MessageText, DetailFillsTheFirstPlaceholderAndTheLogPathFollowsAnEmptyLine) {
  EXPECT_EQ(buildLaunchErrorText(u"Error {0} in {0}.", u"7"), u"Error 7 in {0}.");
  EXPECT_EQ(buildLaunchErrorText(u"[{0}]", u"%s%n{0}"),
            u"[%s%n{0}]");  // never read as a format
  EXPECT_EQ(buildFatalText(u"Boom", u"C:\\Temp\\qvx_nlog_3.log"), u"Boom\n\nLog: C:\\Temp\\qvx_nlog_3.log");
  EXPECT_EQ(buildFatalText(std::u16string(TextRoom - 10, u'm'), u"C:\\a\\long\\log.log").size(),
            TextRoom - 10);
}

TEST(LogText, DirectivesTakeTheirArgumentsByTypeAndATextIsNeverAFormat) {
  auto fmt = [](std::u16string_view f, std::initializer_list<LogArg> a) {
    return utf16ToUtf8(formatLogText(f, a));
  };
  EXPECT_EQ(fmt(u"a %s b %S %d %u %x %I64d %%", {u"w", "n", -5, 7u, 255, 1234567890123LL}),
            "a w b n -5 7 ff 1234567890123 %");
  EXPECT_EQ(fmt(u"[%s]|%d|%S", {u"%s %d %n"}), "[%s %d %n]||");
  EXPECT_EQ(utf16ToUtf8(formatLogRecord(false, 61005, u"hello")), "[61:5] hello\n");
  EXPECT_EQ(utf16ToUtf8(formatLogRecord(true, 0, u"bad %s")), "[0:0] ERROR: bad %s\n");
  EXPECT_EQ(utf16ToUtf8(logFileName(u"C:\\Temp\\", 12)), "C:\\Temp\\qvx_nlog_12.log");
  EXPECT_TRUE(logWantedBy(u"yes"));
  EXPECT_FALSE(logWantedBy(u"Yes") || logWantedBy(u"yes ") || logWantedBy(u"1"));
}

}  // namespace
}  // namespace pelto
