#include <gtest/gtest.h>

#include "env/TextConv.h"
#include "launcher/Fatal.h"
#include "launcher/Limits.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

TEST(LaunchErrorText, DetailReplacesTheFirstPlaceholderOnly) {
  EXPECT_EQ(buildLaunchErrorText(u"Error {0} in {0}.", u"7"), u"Error 7 in {0}.");
  EXPECT_EQ(buildLaunchErrorText(u"No placeholder.", u"7"), u"No placeholder.");
  EXPECT_EQ(buildLaunchErrorText(u"Keep {0}", u""), u"Keep {0}");
  EXPECT_EQ(buildLaunchErrorText(u"", u"7"), u"");
  // The detail is inserted as it stands, never read as a format.
  EXPECT_EQ(buildLaunchErrorText(u"[{0}]", u"%s%n{0}"), u"[%s%n{0}]");
}

TEST(LaunchErrorText, ResultIsBoundedByItsRoom) {
  test::LogRecorder log;
  std::u16string text = buildLaunchErrorText(std::u16string(5000, u'm') + u"{0}", std::u16string(5000, u'd'));
  EXPECT_EQ(text.size(), TextRoom - 1);
  EXPECT_TRUE(log.contains("cut"));
}

TEST(FatalText, LogPathFollowsAfterAnEmptyLine) {
  EXPECT_EQ(buildFatalText(u"Boom", u"C:\\Temp\\qvx_nlog_3.log"), u"Boom\n\nLog: C:\\Temp\\qvx_nlog_3.log");
  EXPECT_EQ(buildFatalText(u"Boom", u""), u"Boom");
}

TEST(FatalText, MessageIsKeptWhenTheLogPathDoesNotFit) {
  test::LogRecorder log;
  std::u16string message(TextRoom - 10, u'm');
  EXPECT_EQ(buildFatalText(message, u"C:\\a\\very\\long\\log.log"), message);
  EXPECT_TRUE(log.contains("no room"));
  std::u16string exact(TextRoom - 1 - 8, u'm');
  EXPECT_EQ(buildFatalText(exact, u"L").size(), TextRoom - 1);
  EXPECT_EQ(buildFatalText(std::u16string(TextRoom + 5, u'm'), u"").size(), TextRoom - 1);
}

}  // namespace
}  // namespace pelto
