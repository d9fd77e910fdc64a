#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "env/Paths.h"
#include "env/TextConv.h"
#include "jvm/Expand.h"
#include "launcher/ChildProcessWin.h"

namespace pelto {
namespace {

std::wstring moduleLongPath() {
  wchar_t module[MAX_PATH * 4], longForm[MAX_PATH * 4];
  GetModuleFileNameW(nullptr, module, MAX_PATH * 4);
  GetLongPathNameW(module, longForm, MAX_PATH * 4);
  return longForm;
}

TEST(ExecutablePath, NarrowAndWideNameTheRunningExecutable) {
  std::u16string wide = getExecutablePathWide();
  EXPECT_EQ(wide, asU(moduleLongPath()));
  std::string narrow = getExecutablePath();
  EXPECT_TRUE(endsWithExe(narrow)) << narrow;
  EXPECT_NE(GetFileAttributesA(narrow.c_str()), INVALID_FILE_ATTRIBUTES) << narrow;

  std::string dir = executableDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '\\');
  EXPECT_EQ(narrow.rfind(dir, 0), 0u) << dir;
  EXPECT_EQ(narrow.find('\\', dir.size()), std::string::npos);
  EXPECT_EQ(executableDirectoryWide(true), narrowToWide(dir));
  std::u16string wideDir = executableDirectoryWide(false);
  EXPECT_EQ(wide.rfind(wideDir, 0), 0u);
  EXPECT_EQ(wideDir.back(), u'\\');
}

// Run in a copy of this program placed under a directory the ANSI code page cannot name; it
// writes what it found to the file named by PELTO_CHILD_REPORT.
TEST(ExecutablePathChild, DISABLED_Report) {
  wchar_t out[MAX_PATH * 4];
  ASSERT_NE(GetEnvironmentVariableW(L"PELTO_CHILD_REPORT", out, MAX_PATH * 4), 0u);
  std::u16string ansiSafe = u"%PELTO_EXEDIR%", full = u"%PELTO_EXEDIR%";
  expandVariables(ansiSafe, true, 6000);
  expandVariables(full, false, 6000);
  std::ofstream f(std::filesystem::path(out), std::ios::binary);
  f << getExecutablePath() << '\n'
    << utf16ToUtf8(getExecutablePathWide()) << '\n'
    << executableDirectory() << '\n'
    << utf16ToUtf8(ansiSafe) << '\n'
    << utf16ToUtf8(full) << '\n';
}

TEST(ExecutablePath, UnrepresentableLongPathFallsBackToAShortNarrowForm) {
  if (GetACP() == CP_UTF8) GTEST_SKIP() << "ANSI code page is UTF-8";
  test::ScratchDir dir(L"pelto\u4e2d\u6587");
  std::wstring copy = dir.path() + L"\\app\u4e2d.exe";
  ASSERT_TRUE(CopyFileW(moduleLongPath().c_str(), copy.c_str(), FALSE));
  std::wstring report = dir.path() + L"\\report.txt";
  SetEnvironmentVariableW(L"PELTO_CHILD_REPORT", report.c_str());
  std::wstring cmd =
      L"\"" + copy + L"\" --gtest_also_run_disabled_tests --gtest_filter=ExecutablePathChild.DISABLED_Report";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  BOOL started =
      CreateProcessW(copy.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
  SetEnvironmentVariableW(L"PELTO_CHILD_REPORT", nullptr);
  ASSERT_TRUE(started);
  WaitForSingleObject(pi.hProcess, 60000);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  ASSERT_EQ(code, 0u);

  std::ifstream in(std::filesystem::path(report), std::ios::binary);
  std::string narrow, wideUtf8, narrowDir, ansiSafe, full;
  std::getline(in, narrow);
  std::getline(in, wideUtf8);
  std::getline(in, narrowDir);
  std::getline(in, ansiSafe);
  std::getline(in, full);
  // The wide path keeps the long form; the narrow one is an 8.3 form the ANSI functions open.
  EXPECT_EQ(utf8ToUtf16(wideUtf8), asU(copy));
  EXPECT_TRUE(endsWithExe(narrow)) << narrow;
  EXPECT_EQ(narrow.find('?'), std::string::npos) << narrow;
  EXPECT_NE(narrow.find('~'), std::string::npos) << narrow;
  EXPECT_NE(GetFileAttributesA(narrow.c_str()), INVALID_FILE_ATTRIBUTES) << narrow;
  // The expansion modes: the narrow-safe directory, or the long one.
  EXPECT_EQ(utf8ToUtf16(ansiSafe), narrowToWide(narrowDir));
  EXPECT_EQ(utf8ToUtf16(full), asU(dir.path() + L"\\"));
}

TEST(Paths, PathExistsDriveRootsWithoutDiskAndOthersThroughFind) {
  for (const char* root : {"C:\\", "C:\\.", "C:\\.\\.", "Q:\\"})
    EXPECT_TRUE(pathExists(std::string_view(root))) << root;
  std::uint64_t written = 0;
  EXPECT_TRUE(pathExists(std::string_view("C:\\windows"), &written));
  EXPECT_NE(written, 0u);
  EXPECT_FALSE(pathExists(std::string_view("Q:\\nothing")));
  EXPECT_FALSE(pathExists(std::string_view("C:\\no such dir\\x")));

  test::ScratchDir dir(L"pelto-exists");
  std::wstring file = dir.path() + L"\\f\u4e2d.txt";
  HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FILETIME t{0x12345678, 0x01d00000};
  SetFileTime(h, nullptr, nullptr, &t);
  CloseHandle(h);
  written = 0;
  EXPECT_TRUE(pathExists(asU(file), &written));
  EXPECT_EQ(written, 0x01d0000012345678ull);
  EXPECT_FALSE(pathExists(asU(dir.path() + L"\\missing")));
}

TEST(Paths, ResolveAgainstExecutableDirectoryOrBaseFile) {
  std::string dir = executableDirectory();
  EXPECT_EQ(resolvePath("lib\\x.dll"), dir + "lib\\x.dll");
  EXPECT_EQ(resolvePath(""), dir);
  EXPECT_EQ(resolvePath("lib\\\\x.dll"), dir + "lib\\x.dll");
  EXPECT_EQ(resolvePath("C:\\x\\\\y"), "C:\\x\\y");
  EXPECT_EQ(resolvePath("\\\\h\\s\\\\t"), "\\\\h\\s\\t");
  EXPECT_EQ(resolvePath("a\\b", "C:\\base\\f.txt"), "C:\\base\\a\\b");
  EXPECT_EQ(resolvePath("C:\\abs", "C:\\base\\f.txt"), "C:\\abs");

  EXPECT_EQ(resolvePath(u"lib\\x", {}, true), executableDirectoryWide(true) + u"lib\\x");
  EXPECT_EQ(resolvePath(u"lib\\x", {}, false), executableDirectoryWide(false) + u"lib\\x");
  EXPECT_EQ(resolvePath(u"\u4e2d", u"D:\\b\\\\c\\f", false), u"D:\\b\\c\\\u4e2d");
}

TEST(Paths, FullPathResolvesDotsAndLowersUnlessAsked) {
  std::string dir = executableDirectory();
  std::string lower = dir;
  for (auto& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(fullPath("Lib\\..\\X.DLL", false), lower + "x.dll");
  EXPECT_EQ(fullPath("Lib\\..\\X.DLL", true), dir + "X.DLL");
  EXPECT_EQ(fullPath(u"C:\\A\\.\\B\\..\\C", false, false), u"c:\\a\\c");
  EXPECT_EQ(fullPath(u"C:\\A\\.\\B\\..\\C", true, true), u"C:\\A\\C");
}

}  // namespace
}  // namespace pelto
