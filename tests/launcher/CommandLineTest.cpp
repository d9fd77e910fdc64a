#include <gtest/gtest.h>

#include "env/TextConv.h"
#include "launcher/CommandLine.h"

namespace pelto {
namespace {

using W = std::vector<std::u16string>;

W split(std::u16string_view text) {
  W out;
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
      {u"back\\slash \\\"x", {u"back\\slash", u"\\x"}},
      // Quotes of both kinds group and are dropped; the other kind inside is plain text, and
      // whichever comes first decides.
      {u"\"C:\\Program Files\\app.exe\" /run", {u"C:\\Program Files\\app.exe", u"/run"}},
      {u"\"it's\" 'say \"hi\"'", {u"it's", u"say \"hi\""}},
      {u"x'a\"b' c\"", {u"xa\"b", u"c"}},
      // Text before an opening quote belongs to the argument; other text after the closing one
      // starts a new one, a quote glued to it goes on with the same one.
      {u"ab\"c d\"e", {u"abc d", u"e"}},
      {u"'a''b' c", {u"ab", u"c"}},
      {u"\"a'b\"'\"c' d", {u"a'b\"c", u"d"}},
      {u"\"a\"'b", {u"ab"}},
      // Empty pairs are empty arguments; an unterminated quote runs to the end.
      {u"a \"\" b", {u"a", u"", u"b"}},
      {u"a \"rest of  it", {u"a", u"rest of  it"}},
      {u"end\"", {u"end"}},
  };
  for (const Case& c : cases) EXPECT_EQ(split(c.line), c.words) << utf16ToUtf8(c.line);
  std::vector<std::string> narrow{"keep"};
  splitCommandLine(std::string_view("-Xmx1g \"-Dp=a b\"  'q'r"), narrow);
  EXPECT_EQ(narrow, (std::vector<std::string>{"keep", "-Xmx1g", "-Dp=a b", "q", "r"}));
}

}  // namespace
}  // namespace pelto
