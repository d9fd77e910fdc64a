#include <gtest/gtest.h>
#include <windows.h>

#include "env/PathText.h"
#include "env/TextConv.h"
#include "launcher/ChildProcessWin.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

bool singleByteAnsi() {
  return GetACP() != CP_UTF8;
}

TEST(TextConvWin, UnrepresentableCharacterBecomesQuestionMarkAndIsReported) {
  if (!singleByteAnsi()) GTEST_SKIP() << "ANSI code page is UTF-8";
  bool lossy = false;
  EXPECT_EQ(wideToNarrow(u"a\u4e2db", &lossy), "a?b");
  EXPECT_TRUE(lossy);
  // No best fit: a Latin a with macron must not turn into a plain "a" (another file name).
  lossy = false;
  EXPECT_EQ(wideToNarrow(u"\u0101", &lossy), "?");
  EXPECT_TRUE(lossy);
  EXPECT_EQ(wideToNarrow(u"\u4e2d"), "?");  // no flag asked for: still converts
}

TEST(TextConvWin, RepresentableAndEmptyTextsAreNotLossy) {
  bool lossy = false;
  EXPECT_EQ(wideToNarrow(u"", &lossy), "");
  EXPECT_FALSE(lossy);
  std::string narrow = wideToNarrow(u"C:\\caf\u00e9\\x", &lossy);
  EXPECT_FALSE(lossy);
  EXPECT_EQ(narrowToWide(narrow), u"C:\\caf\u00e9\\x");
  EXPECT_EQ(narrowToWide(""), u"");
}

TEST(TextConvWin, CodePagesRefusingNoBestFitStillConvert) {
  // The symbol code page refuses WC_NO_BEST_FIT_CHARS and any default-character report.
  bool lossy = false;
  EXPECT_EQ(wideToNarrowInCodePage(42, u"\uF041\uF062", &lossy), "Ab");
  EXPECT_FALSE(lossy);
  lossy = false;
  EXPECT_EQ(wideToNarrowInCodePage(12345, u"abc", &lossy), "");  // not a code page: failure reported
  EXPECT_TRUE(lossy);
}

TEST(TextConvWin, NormalizeAndLowerGoThroughTheCodePage) {
  if (!singleByteAnsi()) GTEST_SKIP() << "ANSI code page is UTF-8";
  std::string p = wideToNarrow(u"C:\\\\ABC\\\\caf\u00e9");
  toLowerPath(p);
  normalizeNarrow(p);
  EXPECT_EQ(narrowToWide(p), u"c:\\abc\\caf\u00e9");
}

TEST(TextConvWin, ShellGivesTheShortFormOfALongPath) {
  test::ScratchDir dir(L"pelto long name dir ");
  std::wstring sub = dir.path() + L"\\My Application Folder";
  ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
  std::wstring file = sub + L"\\some long program.exe";
  HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);

  test::LogRecorder log;
  std::string shortPath = shortPathViaShell(asU(file));
  ASSERT_FALSE(shortPath.empty());
  // Wine's interpreter shortens the directories only; either way the result names the file.
  EXPECT_EQ(directoryPart(std::string_view(shortPath)).find(' '), std::string::npos) << shortPath;
  EXPECT_TRUE(endsWithExe(shortPath)) << shortPath;
  wchar_t longForm[MAX_PATH * 4];
  DWORD n = GetLongPathNameW(asW(narrowToWide(shortPath)).c_str(), longForm, MAX_PATH * 4);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(CompareStringOrdinal(longForm, -1, file.c_str(), -1, TRUE), CSTR_EQUAL);
  EXPECT_TRUE(log.contains("executing "));
  EXPECT_TRUE(log.contains("cmd.exe /C for %I in (\""));
  EXPECT_TRUE(log.contains("Exit Code 0"));
  EXPECT_TRUE(log.contains("Using " + shortPath));
}

}  // namespace
}  // namespace pelto
