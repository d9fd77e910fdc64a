#include <gtest/gtest.h>

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

}  // namespace
}  // namespace pelto
