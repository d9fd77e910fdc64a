#include <gtest/gtest.h>

#include "env/Locale.h"

namespace pelto {
namespace {

// Exact row, then the primary language's row, then English.
TEST(Locale, ExactRowThenPrimaryThenEnglish) {
  struct Case {
    std::uint16_t id;
    const char* name;
  } cases[] = {{0x0407, "de_DE"},    {0x0807, "de_CH"}, {0x4409, "en"},    {0x0428, "en"},
               {0x0814, "no_NO_NY"}, {0x2409, "en"},    {0x0c1a, "sr_CS"}, {0x101a, "sr"},
               {0x0000, "en"},       {0x0856, "gl"},    {0x083c, "ga_IE"}, {13, "iw"},
               {0x0421, "in_ID"},    {0x0c0a, "es_ES"}, {0x0812, "ko_KR"}, {0x0431, "ts"}};
  for (const Case& c : cases) EXPECT_EQ(localeNameForLanguageId(c.id), c.name) << std::hex << c.id;
  // Ascending ids, so no row hides another of the same id.
  for (std::size_t i = 1; i < LocaleTable.size(); ++i)
    EXPECT_LT(LocaleTable[i - 1].id, LocaleTable[i].id) << i;
  for (auto [name, split] : {std::pair{"de_CH", "de/CH"}, {"no_NO_NY", "no/"}, {"en", "en/"}}) {
    std::string l = "xx", c;
    splitLocaleName(name, l, c);
    EXPECT_EQ(l + "/" + c, split);
  }
}

}  // namespace
}  // namespace pelto
