#include <gtest/gtest.h>

#include "env/PathText.h"

namespace pelto {
namespace {

TEST(PathText, TextRulesOfPaths) {
  for (const char* p : {"C:\\x", "c:\\", "\\\\h\\s", "\"C:\\x\"", "\"\\\\h", "\"C:\\"})
    EXPECT_FALSE(isRelativePath(std::string_view(p))) << p;
  for (const char* p : {"", "C:", "\\\\", "C:/x", "C:x", "\\x", "lib\\x.dll", "\"C:", "x:y\\"})
    EXPECT_TRUE(isRelativePath(std::string_view(p))) << p;
  EXPECT_FALSE(isRelativePath(std::u16string_view(u"D:\\\u00e9")));
  EXPECT_TRUE(isRelativePath(std::u16string_view(u"C:/x")));
  for (const char* p : {"a.exe", "C:\\APP~1\\X.EXE", "x.ExE"}) EXPECT_TRUE(endsWithExe(p)) << p;
  for (const char* p : {".exe", "a.exe ", "a.ex?", "a.dll", ""}) EXPECT_FALSE(endsWithExe(p)) << p;
  for (const char* p : {"C:\\", "C:\\.", "C:\\.\\.", "?:\\"})
    EXPECT_TRUE(isDriveRoot(std::string_view(p))) << p;
  for (const char* p : {"C:", "C:\\x", "C:\\..", "C:\\.\\", "\\", "", "CC:\\"})
    EXPECT_FALSE(isDriveRoot(std::string_view(p))) << p;
  EXPECT_EQ(directoryPart(std::string_view("C:\\a/b.exe")), "C:\\a/");
  EXPECT_EQ(directoryPart(std::string_view("b.exe")), "");
  EXPECT_EQ(directoryPart(std::u16string_view(u"\\\\h\\s\\")), u"\\\\h\\s\\");
}

TEST(PathText, CollapseKeepsTheLeadingUncPairOnly) {
  for (auto [in, out] : {std::pair<std::u16string, std::u16string>{u"\\\\server\\share\\\\dir\\\\\\x",
                                                                   u"\\\\server\\share\\dir\\x"},
                         {u"\\\\\\x", u"\\\\x"},
                         {u"C:\\\\a\\\\\\b\\", u"C:\\a\\b\\"},
                         {u"\\\\", u"\\\\"}}) {
    collapseBackslashes(in);
    EXPECT_EQ(in, out);
  }
  std::string p = "C:\\\\Dir\\\\\\A.TXT";
  normalizeNarrow(p);
  EXPECT_EQ(p, "C:\\Dir\\A.TXT");
  toLowerPath(p);
  EXPECT_EQ(p, "c:\\dir\\a.txt");
}

TEST(PathText, ShellOutputGivesTheFirstLineOfASuccessfulRun) {
  struct Case {
    const char* output;
    unsigned long code;
    const char* path;
  } cases[] = {{"C:\\PROGRA~1\\app.exe\r\n", 0, "C:\\PROGRA~1\\app.exe"},
               {"C:\\A~1\\b.exe\nsecond\r\n", 0, "C:\\A~1\\b.exe"},
               {"C:\\a\n", 0, ""},  // fewer than 6 bytes
               {"C:\\a\r\n", 0, "C:\\a"},
               {"C:\\abcdef.exe", 0, ""},
               {"C:\\abcdef.exe\r\n", 1, ""},
               {"", 0, ""}};
  for (const Case& c : cases) EXPECT_EQ(shortPathFromShellOutput(c.output, c.code), c.path) << c.output;
}

}  // namespace
}  // namespace pelto
