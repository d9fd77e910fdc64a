#include <gtest/gtest.h>

#include "env/PathText.h"

namespace pelto {
namespace {

TEST(PathText, RelativeUnlessDriveBackslashOrUnc) {
  for (const char* p : {"C:\\x", "c:\\", "\\\\h\\s", "\"C:\\x\"", "\"\\\\h", "\"C:\\"}) {
    EXPECT_FALSE(isRelativePath(std::string_view(p))) << p;
  }
  for (const char* p : {"", "C:", "\\\\", "C:/x", "C:x", "\\x", "lib\\x.dll", "\"C:", "x:y\\"}) {
    EXPECT_TRUE(isRelativePath(std::string_view(p))) << p;
  }
  EXPECT_FALSE(isRelativePath(std::u16string_view(u"D:\\\u00e9")));
  EXPECT_TRUE(isRelativePath(std::u16string_view(u"\u00e9:\\x").substr(1)));
  EXPECT_TRUE(isRelativePath(std::u16string_view(u"C:/x")));
}

TEST(PathText, EndsWithExeNeedsFiveCharactersAndIgnoresCase) {
  EXPECT_TRUE(endsWithExe("a.exe"));
  EXPECT_TRUE(endsWithExe("C:\\APP~1\\X.EXE"));
  EXPECT_TRUE(endsWithExe("x.ExE"));
  EXPECT_FALSE(endsWithExe(".exe"));
  EXPECT_FALSE(endsWithExe("a.exe "));
  EXPECT_FALSE(endsWithExe("a.ex?"));
  EXPECT_FALSE(endsWithExe("a.dll"));
  EXPECT_FALSE(endsWithExe(""));
}

TEST(PathText, CollapseKeepsLeadingUncPairOnly) {
  std::u16string unc = u"\\\\server\\share\\\\dir\\\\\\x";
  collapseBackslashes(unc);
  EXPECT_EQ(unc, u"\\\\server\\share\\dir\\x");
  std::u16string lead3 = u"\\\\\\x";
  collapseBackslashes(lead3);
  EXPECT_EQ(lead3, u"\\\\x");
  std::u16string drive = u"C:\\\\a\\\\\\b\\";
  collapseBackslashes(drive);
  EXPECT_EQ(drive, u"C:\\a\\b\\");
  std::u16string shortOne = u"\\\\";
  collapseBackslashes(shortOne);
  EXPECT_EQ(shortOne, u"\\\\");
}

TEST(PathText, DriveRootsByTextOnly) {
  for (const char* p : {"C:\\", "C:\\.", "C:\\.\\.", "?:\\"})
    EXPECT_TRUE(isDriveRoot(std::string_view(p))) << p;
  for (const char* p : {"C:", "C:\\x", "C:\\..", "C:\\.\\", "\\", "", "CC:\\"})
    EXPECT_FALSE(isDriveRoot(std::string_view(p))) << p;
  EXPECT_TRUE(isDriveRoot(std::u16string_view(u"z:\\.\\.")));
}

TEST(PathText, DirectoryPartKeepsTrailingSeparator) {
  EXPECT_EQ(directoryPart(std::string_view("C:\\a\\b.exe")), "C:\\a\\");
  EXPECT_EQ(directoryPart(std::string_view("C:\\a/b.exe")), "C:\\a/");
  EXPECT_EQ(directoryPart(std::string_view("b.exe")), "");
  EXPECT_EQ(directoryPart(std::u16string_view(u"\\\\h\\s\\")), u"\\\\h\\s\\");
}

TEST(PathText, NormalizeAndLowerThroughWideForm) {
  std::string p = "C:\\\\Dir\\\\\\A.TXT";
  normalizeNarrow(p);
  EXPECT_EQ(p, "C:\\Dir\\A.TXT");
  toLowerPath(p);
  EXPECT_EQ(p, "c:\\dir\\a.txt");
  std::u16string w = u"C:\\ABC\\x";
  toLowerPath(w);
  EXPECT_EQ(w, u"c:\\abc\\x");
}

TEST(PathText, ShellOutputGivesFirstLineOfASuccessfulRun) {
  EXPECT_EQ(shortPathFromShellOutput("C:\\PROGRA~1\\MYAPP~1\\app.exe\r\n", 0),
            "C:\\PROGRA~1\\MYAPP~1\\app.exe");
  EXPECT_EQ(shortPathFromShellOutput("C:\\A~1\\b.exe\nsecond\r\n", 0), "C:\\A~1\\b.exe");
  EXPECT_EQ(shortPathFromShellOutput("C:\\a\n", 0), "");  // fewer than 6 bytes
  EXPECT_EQ(shortPathFromShellOutput("C:\\a\r\n", 0), "C:\\a");
  EXPECT_EQ(shortPathFromShellOutput("C:\\abcdef.exe", 0), "");  // no line end
  EXPECT_EQ(shortPathFromShellOutput("C:\\abcdef.exe\r\n", 1), "");
  EXPECT_EQ(shortPathFromShellOutput("", 0), "");
}

}  // namespace
}  // namespace pelto
