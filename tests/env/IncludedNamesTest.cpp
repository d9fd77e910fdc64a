#include <gtest/gtest.h>

#include <tuple>

#include "env/Extract.h"

namespace pelto {
namespace {

// Which names are safe is checked through pelto-pack (tests/pack/ToolCases.cmake); these are the
// spellings only Windows' own rules make one file or a device.

// Windows-1252 bytes as the string table holds them, and UTF-8.
TEST(IncludedNames, SuperscriptDigitsNameDevicesToo) {
  for (const char* name : {"COM\xB9", "lpt\xB2.txt", "lib\\Com\xB3", "COM\xC2\xB9", "LPT\xC2\xB2.jar"})
    EXPECT_FALSE(isSafeIncludedName(name)) << name;
  for (const char* name : {"COM\xBC", "com\xB9x", "co\xB9"}) EXPECT_TRUE(isSafeIncludedName(name)) << name;
}

TEST(IncludedNames, NamesDifferingInCaseOnlyClashBeyondAscii) {
  for (auto [a, b, clash] : {std::tuple{u"\u00C4nderung.txt", u"\u00E4nderung.txt", true},  // Latin-1
                             {u"\u0141\u00F3d\u017A", u"\u0142\u00D3D\u0179", true},  // Latin Extended-A
                             {u"\u03A3\u0391", u"\u03C3\u03B1", true},                // Greek
                             {u"\u0386", u"\u03AC", true},
                             {u"\u0416\u0401", u"\u0436\u0451", true},  // Cyrillic
                             {u"lib/a", u"LIB", true},                  // a folder of the other
                             {u"\u00C4", u"A", false},
                             {u"lib2", u"lib", false},
                             {u"\u00D7", u"\u00F7", false}})  // signs, not letters
    EXPECT_EQ(includedNamesClash(a, b), clash);
}

}  // namespace
}  // namespace pelto
