#include <gtest/gtest.h>

#include "env/TextConv.h"
#include "launcher/Log.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

std::string fmt(std::u16string_view format, std::initializer_list<LogArg> args) {
  return utf16ToUtf8(formatLogText(format, args));
}

TEST(LogFormat, DirectivesTakeTheirArgumentsByType) {
  EXPECT_EQ(fmt(u"a %s b %S c", {u"wide", "narrow"}), "a wide b narrow c");
  EXPECT_EQ(fmt(u"%d %u %x %I64d %ld", {-5, 7u, 255, 1234567890123LL, 3L}), "-5 7 ff 1234567890123 3");
  EXPECT_EQ(fmt(u"100%% %c", {'z'}), "100% z");
}

TEST(LogFormat, ConfiguredTextIsNeverAFormat) {
  // A text carrying directives stays as it is when passed as an argument.
  EXPECT_EQ(fmt(u"[%s]", {u"%s %d %n"}), "[%s %d %n]");
  // Missing arguments render as nothing instead of reading stray memory.
  EXPECT_EQ(fmt(u"%s|%d|%S", {}), "||");
  EXPECT_EQ(fmt(u"trailing %", {}), "trailing %");
}

TEST(LogFormat, ErrorsCarryTheirPrefixInTheCapture) {
  test::LogRecorder log;
  logError(u"config string %d truncated (%d %d)", 121, 6000, 7000);
  logMessage(u"plain");
  ASSERT_EQ(log.lines().size(), 2u);
  EXPECT_EQ(log.lines()[0], "ERROR: config string 121 truncated (6000 7000)");
  EXPECT_EQ(log.lines()[1], "plain");
}

}  // namespace
}  // namespace pelto

namespace pelto {
namespace {

TEST(LogRecord, PrefixCarriesSecondsAndMillisecondsWithoutPadding) {
  EXPECT_EQ(utf16ToUtf8(formatLogRecord(false, 61250, u"hello")), "[61:250] hello\n");
  EXPECT_EQ(utf16ToUtf8(formatLogRecord(false, 1005, u"x")), "[1:5] x\n");
  EXPECT_EQ(utf16ToUtf8(formatLogRecord(true, 0, u"bad %s")), "[0:0] ERROR: bad %s\n");
}

TEST(LogRecord, StartLineAndFileNames) {
  EXPECT_EQ(utf16ToUtf8(formatLogStartLine(u"C:\\a\\b.exe", "Mon Dec  7 02:12:29 2026\n")),
            "Started executable C:\\a\\b.exe at Mon Dec  7 02:12:29 2026\n\n");
  EXPECT_EQ(utf16ToUtf8(logFileName(u"C:\\Temp\\", 12)), "C:\\Temp\\qvx_nlog_12.log");
  EXPECT_TRUE(logWantedBy(u"yes"));
  EXPECT_FALSE(logWantedBy(u"Yes"));
  EXPECT_FALSE(logWantedBy(u"yes "));
  EXPECT_FALSE(logWantedBy(u"1"));
}

}  // namespace
}  // namespace pelto
