#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "env/TextConv.h"
#include "launcher/CommandLine.h"

namespace pelto {
namespace {

using W = std::vector<std::u16string>;
using N = std::vector<std::string>;

W split(std::u16string_view text) {
  W out;
  splitCommandLine(text, out);
  return out;
}

N splitN(std::string_view text) {
  N out;
  splitCommandLine(text, out);
  return out;
}

TEST(SplitCommandLine, OnlyTheSpaceSeparatesAndRunsOfSpacesGiveNoEmptyArgument) {
  EXPECT_EQ(split(u"a b  c"), (W{u"a", u"b", u"c"}));
  EXPECT_EQ(split(u"  lead trail  "), (W{u"lead", u"trail"}));
  EXPECT_EQ(split(u"tab\there"), (W{u"tab\there"}));
  EXPECT_EQ(split(u""), W{});
  EXPECT_EQ(split(u"   "), W{});
  EXPECT_EQ(split(u"back\\slash \\\"x"), (W{u"back\\slash", u"\\x"}));
}

TEST(SplitCommandLine, QuotesOfBothKindsGroupAndAreDropped) {
  EXPECT_EQ(split(u"\"C:\\Program Files\\app.exe\" /run"), (W{u"C:\\Program Files\\app.exe", u"/run"}));
  EXPECT_EQ(split(u"'a b' c"), (W{u"a b", u"c"}));
  // A quote of the other kind inside a quoted argument is plain text.
  EXPECT_EQ(split(u"\"it's\" 'say \"hi\"'"), (W{u"it's", u"say \"hi\""}));
  // Whichever quote comes first decides.
  EXPECT_EQ(split(u"x'a\"b' c\""), (W{u"xa\"b", u"c"}));
}

TEST(SplitCommandLine, TextGluedToQuotes) {
  // Text before the opening quote belongs to the argument; text after the closing one starts a new one.
  EXPECT_EQ(split(u"ab\"c d\"e"), (W{u"abc d", u"e"}));
  EXPECT_EQ(split(u"-Dx=\"a b\""), (W{u"-Dx=a b"}));
  EXPECT_EQ(split(u"'a''b'"), (W{u"a", u"b"}));
}

TEST(SplitCommandLine, EmptyPairsAndUnterminatedQuotes) {
  EXPECT_EQ(split(u"a \"\" b"), (W{u"a", u"", u"b"}));
  EXPECT_EQ(split(u"''"), (W{u""}));
  EXPECT_EQ(split(u"a \"rest of  it"), (W{u"a", u"rest of  it"}));
  EXPECT_EQ(split(u"pre'rest"), (W{u"prerest"}));
  EXPECT_EQ(split(u"end\""), (W{u"end"}));
}

TEST(SplitCommandLine, AppendsToTheVectorAndWorksOnNarrowText) {
  W out{u"keep"};
  splitCommandLine(u"x", out);
  EXPECT_EQ(out, (W{u"keep", u"x"}));
  EXPECT_EQ(splitN("-Xmx1g \"-Dp=a b\"  'q'r"), (N{"-Xmx1g", "-Dp=a b", "q", "r"}));
}

// Any list of words survives joining and splitting when each word is written the way the rule
// allows: bare when it has no space or quote, else in the quote kind it does not contain.
TEST(SplitCommandLine, QuotedWordsRoundTrip) {
  std::mt19937 rng(12345);
  const char16_t alphabet[] = u"ab \t\"'=\\-";
  for (int round = 0; round < 2000; ++round) {
    W words(rng() % 5);
    std::u16string line;
    for (auto& w : words) {
      std::size_t len = rng() % 6;
      for (std::size_t i = 0; i < len; ++i) w.push_back(alphabet[rng() % (sizeof alphabet / 2 - 1)]);
      bool hasDq = w.find(u'"') != w.npos, hasSq = w.find(u'\'') != w.npos;
      if (hasDq && hasSq) {  // no way to write both kinds in one word
        w.erase(std::remove(w.begin(), w.end(), u'\''), w.end());
        hasSq = false;
      }
      bool bare = !w.empty() && !hasDq && !hasSq && w.find(u' ') == w.npos;
      char16_t q = hasDq ? u'\'' : u'"';
      line += std::u16string(1 + rng() % 2, u' ');
      line += bare ? w : q + w + q;
    }
    EXPECT_EQ(split(line), words) << utf16ToUtf8(line);
  }
}

}  // namespace
}  // namespace pelto
