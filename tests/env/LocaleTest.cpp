#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "env/Locale.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

std::string nameOf(std::uint16_t id) {
  for (const auto& row : LocaleTable)
    if (row.id == id) return row.name;
  return "<none>";
}

TEST(LocaleTable, ShapeOfAllRows) {
  ASSERT_EQ(LocaleTable.size(), 215u);
  int primary = 0, full = 0;
  for (std::size_t i = 0; i < LocaleTable.size(); ++i) {
    const auto& row = LocaleTable[i];
    std::string name = row.name;
    if (i > 0) {
      EXPECT_LT(LocaleTable[i - 1].id, row.id) << "row " << i;  // ascending, so unique
    }
    ASSERT_TRUE(name.size() == 2 || name.size() == 5 || name.size() == 8) << name;
    EXPECT_TRUE(name[0] >= 'a' && name[0] <= 'z' && name[1] >= 'a' && name[1] <= 'z') << name;
    if (name.size() >= 5) {
      EXPECT_EQ(name[2], '_') << name;
      EXPECT_TRUE(name[3] >= 'A' && name[3] <= 'Z' && name[4] >= 'A' && name[4] <= 'Z') << name;
    }
    if (row.id < 0x400) {
      ++primary;
      EXPECT_EQ(name.size(), 2u) << row.id;
    } else {
      ++full;
    }
  }
  EXPECT_EQ(primary, 71);
  EXPECT_EQ(full, 144);
}

TEST(LocaleTable, FullRowsAgreeWithTheirPrimaryLanguageSaveTheKnownOnes) {
  // Croatian sits on the Serbian primary number and Irish on the Gaelic one; all other full
  // rows carry their primary row's language.
  std::set<std::uint16_t> differing;
  for (const auto& row : LocaleTable) {
    if (row.id < 0x400) continue;
    std::string primary = nameOf(row.id & 0x3ff);
    if (primary != std::string(row.name).substr(0, 2)) differing.insert(row.id);
  }
  EXPECT_EQ(differing, (std::set<std::uint16_t>{0x041a, 0x083c}));
}

TEST(LocaleTable, TheIrregularRows) {
  for (int id : {0x0431, 0x0434, 0x0435, 0x043d, 0x0444, 0x2409})
    EXPECT_EQ(nameOf(static_cast<std::uint16_t>(id)).size(), 2u) << std::hex << id;
  EXPECT_EQ(nameOf(0x2409), "en");
  EXPECT_EQ(nameOf(0x0814), "no_NO_NY");
  int eightLong = 0;
  std::map<std::string, std::set<std::uint16_t>> byName;
  for (const auto& row : LocaleTable) {
    if (std::string(row.name).size() == 8) ++eightLong;
    if (row.id >= 0x400 && std::string(row.name).size() == 5) byName[row.name].insert(row.id);
  }
  EXPECT_EQ(eightLong, 1);
  std::map<std::string, std::set<std::uint16_t>> twice;
  for (const auto& [name, ids] : byName)
    if (ids.size() > 1) twice[name] = ids;
  EXPECT_EQ(twice, (std::map<std::string, std::set<std::uint16_t>>{{"es_ES", {0x040a, 0x0c0a}},
                                                                   {"ko_KR", {0x0412, 0x0812}},
                                                                   {"sr_CS", {0x081a, 0x0c1a}},
                                                                   {"az_AZ", {0x042c, 0x082c}},
                                                                   {"uz_UZ", {0x0443, 0x0843}}}));
  EXPECT_EQ(nameOf(13), "iw");
  EXPECT_EQ(nameOf(33), "in");
  EXPECT_EQ(nameOf(0x040d), "iw_IL");
  EXPECT_EQ(nameOf(0x0421), "in_ID");
}

TEST(Locale, ExactRowThenPrimaryThenEnglish) {
  test::LogRecorder log;
  EXPECT_EQ(localeNameForLanguageId(0x0407), "de_DE");
  EXPECT_EQ(localeNameForLanguageId(0x0807), "de_CH");
  EXPECT_EQ(localeNameForLanguageId(0x4409), "en");  // no full row: primary pass
  EXPECT_EQ(localeNameForLanguageId(0x0428), "en");  // primary 40 has no row: default
  EXPECT_EQ(localeNameForLanguageId(0x0814), "no_NO_NY");
  EXPECT_EQ(localeNameForLanguageId(0x2409), "en");
  EXPECT_EQ(localeNameForLanguageId(0x0c1a), "sr_CS");
  EXPECT_EQ(localeNameForLanguageId(0x101a), "sr");  // primary 26
  EXPECT_EQ(localeNameForLanguageId(0x0000), "en");
  EXPECT_EQ(localeNameForLanguageId(0x0056), "gl");  // a primary row matched exactly
  ASSERT_EQ(log.lines().size(), 10u);                // one line per detection, however it ended
  EXPECT_EQ(log.lines()[0], "language/country is de_DE");
  EXPECT_EQ(log.lines()[3], "language/country is en");
}

TEST(Locale, SplitPassesCountryOnlyForFiveCharacterNames) {
  std::string language = "xx", country = "YY";
  splitLocaleName("de_CH", language, country);
  EXPECT_EQ(language, "de");
  EXPECT_EQ(country, "CH");
  language = "xx";
  country = "";
  splitLocaleName("no_NO_NY", language, country);
  EXPECT_EQ(language, "no");
  EXPECT_EQ(country, "");
  splitLocaleName("en", language, country);
  EXPECT_EQ(language, "en");
  EXPECT_EQ(country, "");
}

}  // namespace
}  // namespace pelto
