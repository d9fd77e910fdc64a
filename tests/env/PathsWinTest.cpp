#include <gtest/gtest.h>
#include <windows.h>

#include "env/Paths.h"
#include "env/TextConv.h"
#include "launcher/ChildProcessWin.h"

namespace pelto {
namespace {

TEST(Paths, ExecutablePathAndDirectoryNameTheRunningExecutable) {
  wchar_t module[MAX_PATH * 4], longForm[MAX_PATH * 4];
  GetModuleFileNameW(nullptr, module, MAX_PATH * 4);
  GetLongPathNameW(module, longForm, MAX_PATH * 4);
  EXPECT_EQ(getExecutablePathWide(), asU(longForm));
  std::string narrow = getExecutablePath(), dir = executableDirectory();
  EXPECT_NE(GetFileAttributesA(narrow.c_str()), INVALID_FILE_ATTRIBUTES) << narrow;
  EXPECT_EQ(dir + narrow.substr(narrow.rfind('\\') + 1), narrow);
  EXPECT_EQ(executableDirectoryWide(true), narrowToWide(dir));
  EXPECT_EQ(getExecutablePathWide().rfind(executableDirectoryWide(false), 0), 0u);
}

TEST(Paths, ExistenceResolutionAndFullPaths) {
  for (const char* root : {"C:\\", "C:\\.", "C:\\.\\.", "Q:\\", "C:\\windows"})
    EXPECT_TRUE(pathExists(std::string_view(root))) << root;
  EXPECT_FALSE(pathExists(std::string_view("Q:\\nothing")));
  test::ScratchDir scratch(L"pelto-exists");
  std::wstring file = scratch.path() + L"\\f\u4e2d.txt";
  HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  FILETIME t{0x12345678, 0x01d00000};
  SetFileTime(h, nullptr, nullptr, &t);
  CloseHandle(h);
  std::uint64_t written = 0;
  EXPECT_TRUE(pathExists(asU(file), &written));
  EXPECT_EQ(written, 0x01d0000012345678ull);

  std::string dir = executableDirectory(), lower = dir;
  for (auto& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(resolvePath("lib\\\\x.dll"), dir + "lib\\x.dll");
  EXPECT_EQ(resolvePath("\\\\h\\s\\\\t"), "\\\\h\\s\\t");
  EXPECT_EQ(resolvePath("a\\b", "C:\\base\\f.txt"), "C:\\base\\a\\b");
  EXPECT_EQ(resolvePath("C:\\abs", "C:\\base\\f.txt"), "C:\\abs");
  EXPECT_EQ(resolvePath(u"lib\\x", {}, true), executableDirectoryWide(true) + u"lib\\x");
  EXPECT_EQ(resolvePath(u"lib\\x", {}, false), executableDirectoryWide(false) + u"lib\\x");
  EXPECT_EQ(resolvePath(u"\u4e2d", u"D:\\b\\\\c\\f", false), u"D:\\b\\c\\\u4e2d");
  EXPECT_EQ(fullPath("Lib\\..\\X.DLL", false), lower + "x.dll");
  EXPECT_EQ(fullPath("Lib\\..\\X.DLL", true), dir + "X.DLL");
  EXPECT_EQ(fullPath(u"C:\\A\\.\\B\\..\\C", false, false), u"c:\\a\\c");
}

}  // namespace
}  // namespace pelto
