#include <gtest/gtest.h>
#include <windows.h>

#include "env/Paths.h"
#include "env/TextConv.h"
#include "launcher/ChildProcessWin.h"
#include "support/DoublesWin.h"

namespace pelto {
namespace {

TEST(Paths, ExecutableDirectoryExistenceAndResolution) {
  wchar_t module[MAX_PATH * 4], longForm[MAX_PATH * 4];
  GetModuleFileNameW(nullptr, module, MAX_PATH * 4);
  GetLongPathNameW(module, longForm, MAX_PATH * 4);
  EXPECT_EQ(getExecutablePathWide(), asU(longForm));
  std::string narrow = getExecutablePath(), dir = executableDirectory(), lower = dir;
  EXPECT_EQ(dir + narrow.substr(narrow.rfind('\\') + 1), narrow);
  EXPECT_EQ(executableDirectoryWide(true), narrowToWide(dir));
  for (auto& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  for (const char* root : {"C:\\", "C:\\.", "Q:\\", "C:\\windows", narrow.c_str()})
    EXPECT_TRUE(pathExists(std::string_view(root))) << root;
  EXPECT_FALSE(pathExists(std::string_view("Q:\\nothing")));
  std::uint64_t written = 0;
  WIN32_FILE_ATTRIBUTE_DATA d;
  GetFileAttributesExW(module, GetFileExInfoStandard, &d);
  EXPECT_TRUE(pathExists(asU(module), &written));
  EXPECT_EQ(written, std::uint64_t{d.ftLastWriteTime.dwHighDateTime} << 32 | d.ftLastWriteTime.dwLowDateTime);
  EXPECT_EQ(resolvePath("lib\\\\x.dll"), dir + "lib\\x.dll");
  EXPECT_EQ(resolvePath("a\\b", "C:\\base\\f.txt"), "C:\\base\\a\\b");
  EXPECT_EQ(resolvePath("C:\\abs", "C:\\base\\f.txt"), "C:\\abs");
  EXPECT_EQ(resolvePath(u"lib\\x", {}, false), executableDirectoryWide(false) + u"lib\\x");
  EXPECT_EQ(resolvePath(u"\u4e2d", u"D:\\b\\\\c\\f", false), u"D:\\b\\c\\\u4e2d");
  EXPECT_EQ(fullPath("Lib\\..\\X.DLL", false), lower + "x.dll");
  EXPECT_EQ(fullPath("Lib\\..\\X.DLL", true), dir + "X.DLL");
  EXPECT_EQ(fullPath(u"C:\\A\\.\\B\\..\\C", false, false), u"c:\\a\\c");
}

// A wildcard listing hands on only names that survive the narrow code page whole: best-fit
// would turn fullwidth "．．＼" into "..\", a path that leaves the folder.
TEST(Paths, WildcardListingNeverHandsOnABestFitName) {
  test::ScratchDir dir(L"pelto_list");
  for (const wchar_t* name : {L"ok.jar", L"\uFF0E\uFF0E\uFF3Cevil.jar", L"\u4e2d.jar"})
    test::writeText(dir.path() + L"\\" + name, "x");
  std::vector<std::string> names;
  for (const ListedEntry& e : listMatchingEntries(wideToNarrow(dir.u()) + "\\*.jar")) names.push_back(e.name);
  EXPECT_EQ(names, std::vector<std::string>{"ok.jar"});
}

}  // namespace
}  // namespace pelto
