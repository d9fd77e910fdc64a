#include <gtest/gtest.h>

#include "jre/Search.h"

namespace pelto {
namespace {

TEST(SearchSequence, EntriesKeepTheirLetterAndTextAndRunsOfSeparatorsGiveNothing) {
  auto entries = splitSearchSequence(";;Bjre;;E${HOME_VAR};S;Y;;Rc:\\x;A");
  ASSERT_EQ(entries.size(), 6u);
  const std::pair<char, const char*> want[] = {{'B', "jre"}, {'E', "${HOME_VAR}"}, {'S', ""},
                                               {'Y', ""},    {'R', "c:\\x"},       {'A', ""}};
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].letter, want[i].first) << i;
    EXPECT_EQ(entries[i].text, want[i].second) << i;
  }
  EXPECT_TRUE(splitSearchSequence("").empty());
  EXPECT_TRUE(splitSearchSequence(";;;").empty());
}

TEST(FallbackPass, OnlyBAndRelativeRAndATakePart) {
  struct Case {
    char letter;
    const char* text;
    bool takesPart;
  } cases[] = {
      {'B', "jre", true},
      {'B', "C:\\jre", true},
      {'B', "\\\\srv\\jre", true},
      {'A', "jre", true},
      {'R', "..\\jre", true},
      {'A', "C:\\jre", false},
      {'R', "c:jre", false},
      {'A', "\\\\srv\\jre", false},
      {'A', "\\jre", true},
      {'A', "C", true},
      {'A', "", true},
      {'E', "jre", false},
      {'S', "jre", false},
      {'Y', "", false},
      {'b', "jre", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(takesPartInFallback({c.letter, c.text}), c.takesPart) << c.letter << c.text;
}

}  // namespace
}  // namespace pelto
