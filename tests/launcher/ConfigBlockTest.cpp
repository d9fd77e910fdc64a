#include <gtest/gtest.h>

#include "launcher/ConfigBlock.h"

namespace pelto {
namespace {

std::vector<unsigned char> imageWith(const ConfigBlock& block) {
  std::vector<unsigned char> image = minimalLauncherImage();
  std::vector<unsigned char> bytes = encodeConfigBlock(block);
  image.insert(image.end(), bytes.begin(), bytes.end());
  return image;
}

// Read back whole, then cut at every byte: each cut ends in the error of the
// primitive that met the end (derived from the layout, not from the reader),
// never reading past it.
TEST(ConfigBlockTest, RoundTripsAndEveryCutNamesThePrimitive) {
  ConfigBlock b;
  b.strings = {{101, "HelloService"}, {122, "com.example.Main"}};
  b.wide = {{1016, u"No Java {0}"}};
  b.locales = {{"de", {{1016, u"Kein Java {0}"}}}};
  std::vector<unsigned char> full = imageWith(b);
  ASSERT_FALSE(loadConfigFromBytes(full, "de_CH"));
  EXPECT_EQ(LauncherConfig.strings[122], "com.example.Main");
  EXPECT_EQ(LauncherConfig.wide[1016], u"Kein Java {0}");
  EXPECT_EQ(IncludedFilesOffset, full.size());

  using K = ConfigErrorKind;
  std::vector<K> expect;
  auto field = [&expect](std::size_t n, K k) { expect.insert(expect.end(), n, k); };
  auto text = [&](std::size_t n, K k) { field(4, K::ReadInt), field(n, k); };
  field(4 + 8, K::ReadInt), field(8, K::ReadLong), field(4, K::ReadInt);  // magic, reserved, count
  for (const auto& [id, s] : b.strings) field(4, K::ReadInt), text(s.size(), K::ReadString);
  field(4, K::ReadInt);
  for (const auto& [id, s] : b.wide) field(4, K::ReadInt), text(s.size() * 2, K::ReadWString);
  field(4, K::ReadInt), text(2, K::ReadString), field(4 + 4, K::ReadInt);  // one locale, one entry
  text(b.locales[0].entries[0].second.size() * 2, K::ReadWString);
  const std::size_t start = minimalLauncherImage().size();
  ASSERT_EQ(start + expect.size(), full.size());
  for (std::size_t cut = start; cut < full.size(); ++cut) {
    std::vector<unsigned char> image(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
    ASSERT_EQ(loadConfigFromBytes(image, "de_DE").kind, expect[cut - start]) << "cut at " << cut;
  }
}

// Sections whose key is a prefix of the locale name override the wide texts in
// file order.
TEST(ConfigBlockTest, MatchingSectionsOverrideInFileOrderAndNeverTouchStrings) {
  ConfigBlock b;
  b.strings = {{1016, "narrow"}};
  b.wide = {{1016, u"base"}, {1000, u"caption"}};
  b.locales = {{"de", {{1016, u"de"}}},
               {"fr", {{1000, u"fr"}}},
               {"de_CH", {{1016, u"de_CH"}}},
               {"", {{1005, u"any"}}}};
  struct Case {
    const char* locale;
    std::u16string text, caption;
  } cases[] = {{"de_CH", u"de_CH", u"caption"}, {"de", u"de", u"caption"}, {"it_IT", u"base", u"caption"}};
  for (const Case& c : cases) {
    ASSERT_FALSE(loadConfigFromBytes(imageWith(b), c.locale));
    EXPECT_EQ(LauncherConfig.wide[1016], c.text) << c.locale;
    EXPECT_EQ(LauncherConfig.wide[1000], c.caption) << c.locale;
    EXPECT_EQ(LauncherConfig.wide[1005], u"any") << c.locale;
    EXPECT_EQ(LauncherConfig.strings[1016], "narrow") << c.locale;
  }
}

}  // namespace
}  // namespace pelto
