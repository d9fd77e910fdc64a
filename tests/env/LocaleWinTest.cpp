#include <gtest/gtest.h>
#include <windows.h>

#include "env/Locale.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

TEST(LocaleWin, DetectsTheUserInterfaceLanguage) {
  test::LogRecorder log;
  std::string name = detectLocale();
  LANGID ui = GetUserDefaultUILanguage();
  test::LogRecorder quiet;  // the reference lookup's own line is not part of the check
  EXPECT_EQ(name, localeNameForLanguageId(ui)) << std::hex << ui;
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_EQ(log.lines()[0], "language/country is " + name);
  EXPECT_TRUE(name.size() == 2 || name.size() == 5 || name.size() == 8) << name;
}

}  // namespace
}  // namespace pelto
