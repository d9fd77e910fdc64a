#include <gtest/gtest.h>

#include "env/PathText.h"

namespace pelto {
namespace {

TEST(PathText, TextRulesOfPaths) {
  for (const char* p : {"C:\\x", "c:\\", "\\\\h\\s", "\"C:\\x\"", "\"\\\\h", "\"C:\\"})
    EXPECT_FALSE(isRelativePath(std::string_view(p))) << p;
  for (const char* p : {"", "C:", "\\\\", "C:/x", "C:x", "\\x", "lib\\x.dll", "\"C:", "x:y\\"})
    EXPECT_TRUE(isRelativePath(std::string_view(p))) << p;
  for (const char* p : {"a.exe", "C:\\APP~1\\X.EXE", "x.ExE"}) EXPECT_TRUE(endsWithExe(p)) << p;
  for (const char* p : {".exe", "a.exe ", "a.ex?", "a.dll", ""}) EXPECT_FALSE(endsWithExe(p)) << p;
  for (const char* p : {"C:\\", "C:\\.", "C:\\.\\.", "?:\\"})
    EXPECT_TRUE(isDriveRoot(std::string_view(p))) << p;
  for (const char* p : {"C:", "C:\\x", "C:\\..", "C:\\.\\", "\\", "", "CC:\\"})
    EXPECT_FALSE(isDriveRoot(std::string_view(p))) << p;
  EXPECT_EQ(directoryPart(std::string_view("C:\\a/b.exe")) + "|" + directoryPart(std::string_view("b.exe")),
            "C:\\a/|");
  for (auto [in, out] : {std::pair<std::u16string, std::u16string>{u"\\\\server\\share\\\\dir\\\\\\x",
                                                                   u"\\\\server\\share\\dir\\x"},
                         {u"\\\\\\x", u"\\\\x"},
                         {u"C:\\\\a\\\\\\b\\", u"C:\\a\\b\\"}}) {
    collapseBackslashes(in);
    EXPECT_EQ(in, out);
  }
}

TEST(PathText, ShellOutputGivesTheFirstLineOfASuccessfulRun) {
  for (auto [output, code, path] : {std::tuple{"C:\\PROGRA~1\\app.exe\r\n", 0ul, "C:\\PROGRA~1\\app.exe"},
                                    {"C:\\A~1\\b.exe\nsecond\r\n", 0ul, "C:\\A~1\\b.exe"},
                                    {"C:\\a\r\n", 0ul, "C:\\a"},
                                    {"C:\\a\n", 0ul, ""} /* fewer than 6 bytes */,
                                    {"C:\\abcdef.exe", 0ul, ""},
                                    {"C:\\abcdef.exe\r\n", 1ul, ""}})
    EXPECT_EQ(shortPathFromShellOutput(output, code), path) << output;
}

}  // namespace
}  // namespace pelto
