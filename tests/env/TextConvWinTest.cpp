#include <gtest/gtest.h>
#include <windows.h>

#include "env/PathText.h"
#include "env/TextConv.h"
#include "launcher/ChildProcessWin.h"

namespace pelto {
namespace {

TEST(TextConvWin, LossIsReportedAndNeverBestFitted) {
  struct Case {
    unsigned codePage;
    std::u16string wide;
    std::string narrow;
    bool lossy;
  } cases[] = {
      {CP_ACP, u"", "", false},           {CP_ACP, u"C:\\x", "C:\\x", false},
      {1252, u"a\u4e2db", "a?b", true},   {1252, u"\u0101", "?", true},  // a macron is not a plain "a"
      {42, u"\uF041\uF062", "Ab", false},  // the symbol page refuses the no-best-fit flag
      {12345, u"abc", "", true}};          // no code page at all
  for (const Case& c : cases) {
    bool lossy = false;
    EXPECT_EQ(wideToNarrowInCodePage(c.codePage, c.wide, &lossy), c.narrow) << c.narrow;
    EXPECT_EQ(lossy, c.lossy) << c.narrow;
  }
}

TEST(TextConvWin, ShellGivesTheShortFormOfALongPath) {
  test::ScratchDir dir(L"pelto long name dir ");
  std::wstring file = dir.path() + L"\\My Application Folder\\some long program.exe";
  CreateDirectoryW((dir.path() + L"\\My Application Folder").c_str(), nullptr);
  ASSERT_TRUE(test::writeWhole(file, "x"));
  std::string shortPath = shortPathViaShell(asU(file));
  // Wine's interpreter shortens the directories only; either way the result names the file.
  EXPECT_EQ(directoryPart(std::string_view(shortPath)).find(' '), std::string::npos) << shortPath;
  wchar_t longForm[MAX_PATH * 4];
  ASSERT_GT(GetLongPathNameW(asW(narrowToWide(shortPath)).c_str(), longForm, MAX_PATH * 4), 0u);
  EXPECT_EQ(CompareStringOrdinal(longForm, -1, file.c_str(), -1, TRUE), CSTR_EQUAL);
  // The interpreter would expand a variable in the path: such a path gets no short form here.
  EXPECT_EQ(shortPathViaShell(asU(dir.path() + L"\\%windir%")), "");
}

}  // namespace
}  // namespace pelto
