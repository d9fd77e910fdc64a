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

TEST(SplitCommandLine, Rules) {
  struct Case {
    std::u16string_view line;
    W words;
  } cases[] = {
      // Only the space separates; runs of spaces give no empty argument; no escapes.
      {u"a b  c", {u"a", u"b", u"c"}},
      {u"  lead trail  ", {u"lead", u"trail"}},
      {u"tab\there", {u"tab\there"}},
      {u"", {}},
      {u"   ", {}},
      {u"back\\slash \\\"x", {u"back\\slash", u"\\x"}},
      // Quotes of both kinds group and are dropped; the other kind inside is plain text, and
      // whichever comes first decides.
      {u"\"C:\\Program Files\\app.exe\" /run", {u"C:\\Program Files\\app.exe", u"/run"}},
      {u"'a b' c", {u"a b", u"c"}},
      {u"\"it's\" 'say \"hi\"'", {u"it's", u"say \"hi\""}},
      {u"x'a\"b' c\"", {u"xa\"b", u"c"}},
      // Text before an opening quote belongs to the argument; after the closing one a new one starts.
      {u"ab\"c d\"e", {u"abc d", u"e"}},
      {u"-Dx=\"a b\"", {u"-Dx=a b"}},
      {u"'a''b'", {u"a", u"b"}},
      // Empty pairs are empty arguments; an unterminated quote runs to the end.
      {u"a \"\" b", {u"a", u"", u"b"}},
      {u"''", {u""}},
      {u"a \"rest of  it", {u"a", u"rest of  it"}},
      {u"pre'rest", {u"prerest"}},
      {u"end\"", {u"end"}},
  };
  for (const Case& c : cases) EXPECT_EQ(split(c.line), c.words) << utf16ToUtf8(c.line);
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
