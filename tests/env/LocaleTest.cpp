#include <gtest/gtest.h>

#include "env/Locale.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

TEST(LocaleTable, AscendingRowsOfWellFormedNames) {
  ASSERT_EQ(LocaleTable.size(), 215u);
  int primary = 0;
  for (std::size_t i = 0; i < LocaleTable.size(); ++i) {
    std::string name = LocaleTable[i].name;
    EXPECT_TRUE(i == 0 || LocaleTable[i - 1].id < LocaleTable[i].id) << name;  // so each id once
    EXPECT_TRUE(std::islower(name[0]) && std::islower(name[1])) << name;
    EXPECT_TRUE(name.size() == 2 || (name[2] == '_' && std::isupper(name[3]) && std::isupper(name[4])))
        << name;
    EXPECT_TRUE(LocaleTable[i].id >= 0x400 || name.size() == 2) << name;
    primary += LocaleTable[i].id < 0x400;
  }
  EXPECT_EQ(primary, 71);
}

// Exact row, then the primary language's row, then English; one log line per detection.
TEST(Locale, ExactRowThenPrimaryThenEnglish) {
  struct Case {
    std::uint16_t id;
    const char* name;
  } cases[] = {{0x0407, "de_DE"},    {0x0807, "de_CH"}, {0x4409, "en"},    {0x0428, "en"},
               {0x0814, "no_NO_NY"}, {0x2409, "en"},    {0x0c1a, "sr_CS"}, {0x081a, "sr_CS"},
               {0x101a, "sr"},       {0x0000, "en"},    {0x0056, "gl"},    {0x041a, "hr_HR"},
               {0x083c, "ga_IE"},    {13, "iw"},        {33, "in"},        {0x040d, "iw_IL"},
               {0x0421, "in_ID"},    {0x0c0a, "es_ES"}, {0x0812, "ko_KR"}, {0x0431, "ts"}};
  test::LogRecorder log;
  for (const Case& c : cases) EXPECT_EQ(localeNameForLanguageId(c.id), c.name) << std::hex << c.id;
  ASSERT_EQ(log.lines().size(), std::size(cases));
  EXPECT_EQ(log.lines()[0], "language/country is de_DE");
}

TEST(Locale, SplitPassesCountryOnlyForFiveCharacterNames) {
  for (auto [name, language, country] :
       {std::tuple{"de_CH", "de", "CH"}, {"no_NO_NY", "no", ""}, {"en", "en", ""}}) {
    std::string l = "xx", c;
    splitLocaleName(name, l, c);
    EXPECT_EQ(l, language) << name;
    EXPECT_EQ(c, country) << name;
  }
}

}  // namespace
}  // namespace pelto
