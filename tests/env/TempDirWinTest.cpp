#include <gtest/gtest.h>
#include <windows.h>

#include "env/Paths.h"
#include "env/TextConv.h"
#include "launcher/ChildProcessWin.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

using test::ScopedEnv;
using test::ScratchDir;

std::u16string windowsDirectory() {
  wchar_t w[MAX_PATH];
  GetWindowsDirectoryW(w, MAX_PATH);
  return asU(w);
}

bool leftNoProbe(const std::wstring& dir) {
  WIN32_FIND_DATAW d;
  HANDLE h = FindFirstFileW((dir + L"\\plotw*").c_str(), &d);
  if (h == INVALID_HANDLE_VALUE) return true;
  FindClose(h);
  return false;
}

TEST(TempDir, CandidatesInTheirFixedOrder) {
  ScopedEnv tmp(L"TMP", L"C:\\tmpA");
  ScopedEnv temp(L"TEMP", L"C:\\tmpB");
  ScopedEnv profile(L"USERPROFILE", L"C:\\users\\p");
  ScopedEnv drive(L"HOMEDRIVE", L"D:");
  ScopedEnv home(L"HOMEPATH", L"\\h");
  std::u16string w = windowsDirectory();
  auto list = tempCandidatesWide();
  std::vector<TempCandidate<std::u16string>> expected = {
      {u"C:\\tmpA\\", true, true},
      {u"C:\\users\\p\\AppData\\Local\\Temp", false, true},
      {u"D:\\h", false, true},
      {w + u"\\temp", false, false},
      {u"c:\\temp", false, false},
      {u"c:\\tmp", false, false},
      {w, false, false},
      {u"c:\\tmp", true, false},
      {u"C:\\tmpA\\", true, false},
      {u"C:\\users\\p\\AppData\\Local\\Temp", false, false},
      {u"D:\\h", false, false}};
  ASSERT_EQ(list.size(), expected.size());
  for (std::size_t i = 0; i < list.size(); ++i) {
    EXPECT_EQ(list[i].path, expected[i].path) << i;
    EXPECT_EQ(list[i].create, expected[i].create) << i;
    EXPECT_EQ(list[i].rejectUnrepresentable, expected[i].rejectUnrepresentable) << i;
  }
  auto narrow = tempCandidates();
  ASSERT_EQ(narrow.size(), list.size());
  EXPECT_EQ(narrow[2].path, "D:\\h");
  EXPECT_EQ(narrow[6].path, wideToNarrow(w));
}

TEST(TempDir, UnavailableSourcesAreSkipped) {
  ScopedEnv profile(L"USERPROFILE", std::nullopt);
  ScopedEnv drive(L"HOMEDRIVE", L"D:");
  ScopedEnv home(L"HOMEPATH", std::nullopt);
  auto list = tempCandidatesWide();
  // GetTempPath, the Windows directory and the fixed ones remain.
  ASSERT_EQ(list.size(), 7u);
  for (const auto& c : list) EXPECT_EQ(c.path.find(u"AppData"), std::u16string::npos);
}

TEST(TempDir, EachCandidateIsProvenWritable) {
  ScratchDir dir(L"pelto-cand");
  std::u16string base = dir.u();
  std::u16string created = base + u"\\made";
  std::u16string unrepresentable = base + u"\\x\u4e2d";
  ASSERT_TRUE(CreateDirectoryW(asW(unrepresentable).c_str(), nullptr));
  std::wstring file = dir.path() + L"\\file";
  CloseHandle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));

  EXPECT_FALSE(testTempCandidate(std::u16string_view(), true, false));
  EXPECT_FALSE(testTempCandidate(base + u"\\no\\deeper", true, false));  // only the last level is made
  EXPECT_FALSE(testTempCandidate(asU(file), false, false));
  EXPECT_FALSE(testTempCandidate(base + u"\\absent", false, false));
  EXPECT_TRUE(testTempCandidate(created, true, true));
  EXPECT_TRUE(test::isDirectory(asW(created)));
  if (GetACP() != CP_UTF8) {
    EXPECT_FALSE(testTempCandidate(unrepresentable, false, true));
    EXPECT_FALSE(testTempCandidate(wideToNarrow(unrepresentable), false, true));
  }
  EXPECT_TRUE(testTempCandidate(unrepresentable, false, false));
  EXPECT_TRUE(testTempCandidate(wideToNarrow(base), false, true));
  EXPECT_TRUE(leftNoProbe(dir.path()));
  EXPECT_TRUE(leftNoProbe(asW(created)));

  // The first passing candidate wins; an unrepresentable one only where it is allowed.
  std::vector<TempCandidate<std::u16string>> list = {{base + u"\\no\\deeper", true, true},
                                                     {unrepresentable, false, true},
                                                     {unrepresentable, false, false},
                                                     {created, false, false}};
  EXPECT_EQ(findTempDirectoryAmong(list, false), unrepresentable);
  list.erase(list.begin() + 2);
  EXPECT_EQ(findTempDirectoryAmong(list, true), created);
}

TEST(TempDir, NothingUsableEndsTheLaunchOrGivesEmptyWithoutTheFatalFlag) {
  std::vector<TempCandidate<std::u16string>> none = {{u"Q:\\nowhere", true, false}, {u"", false, false}};
  EXPECT_EQ(findTempDirectoryAmong(none, false), u"");
  EXPECT_EXIT(findTempDirectoryAmong(none, true), testing::ExitedWithCode(1), "");
  std::vector<TempCandidate<std::string>> noneNarrow = {{"Q:\\nowhere", true, true}};
  EXPECT_EXIT(findTempDirectoryAmong(noneNarrow), testing::ExitedWithCode(1), "");
}

TEST(TempDir, UnusableTempSettingsFallBackToTheWindowsTempDirectory) {
  ScratchDir dir(L"pelto-fallback");
  std::wstring unrepresentable = dir.path() + L"\\t\u4e2d";
  ASSERT_TRUE(CreateDirectoryW(unrepresentable.c_str(), nullptr));
  ScopedEnv profile(L"USERPROFILE", dir.path() + L"\\noprofile");
  ScopedEnv drive(L"HOMEDRIVE", std::nullopt);
  std::u16string windowsTemp = windowsDirectory() + u"\\temp";
  {
    ScopedEnv tmp(L"TMP", dir.path() + L"\\missing\\deeper");
    ScopedEnv temp(L"TEMP", dir.path() + L"\\missing\\deeper");
    EXPECT_EQ(findTempDirectory(false), windowsTemp);
    EXPECT_EQ(findTempDirectory(), wideToNarrow(windowsTemp));
  }
  if (GetACP() != CP_UTF8) {
    // A TEMP the code page cannot name is passed over while anything else works.
    ScopedEnv tmp(L"TMP", unrepresentable);
    ScopedEnv temp(L"TEMP", unrepresentable);
    EXPECT_EQ(findTempDirectory(true), windowsTemp);
  }
  {
    // A usable TEMP is taken, made when its last level is missing.
    ScopedEnv tmp(L"TMP", dir.path() + L"\\fresh");
    EXPECT_EQ(findTempDirectory(true), dir.u() + u"\\fresh\\");
    EXPECT_TRUE(test::isDirectory(dir.path() + L"\\fresh"));
  }
}

TEST(TempDir, TempDirectoryIsRememberedAfterTheFirstSearch) {
  std::string first = getTempDirectory();
  std::u16string firstWide = getTempDirectory(true);
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(firstWide.empty());
  ScratchDir dir(L"pelto-cache");
  ScopedEnv tmp(L"TMP", dir.path());
  EXPECT_EQ(getTempDirectory(), first);
  EXPECT_EQ(getTempDirectory(false), firstWide);
}

TEST(TempDir, TempFileNameIsMadeInTheTempDirectory) {
  test::LogRecorder log;
  std::string dir = getTempDirectory();
  std::string name = makeTempFileName();
  EXPECT_EQ(name.rfind(dir, 0), 0u) << name;
  std::string file = name.substr(name.find_last_of('\\') + 1);
  EXPECT_EQ(file.rfind("plo", 0), 0u) << file;
  EXPECT_TRUE(file.size() > 4 && file.substr(file.size() - 4) == ".tmp") << file;
  EXPECT_NE(GetFileAttributesA(name.c_str()), INVALID_FILE_ATTRIBUTES);  // made, and left behind
  EXPECT_TRUE(log.contains("tempPath is " + dir));
  EXPECT_TRUE(log.contains("tempFile is " + name));
  DeleteFileA(name.c_str());
}

TEST(TempDir, LauncherTempDirGivesUpAfterTenFailedAttempts) {
  // In the death test's own process: the remembered temp directory vanishes, so neither the
  // temp file nor the directory beside it can be made.
  ScratchDir dir(L"pelto-vanish", false);
  EXPECT_EXIT(
      {
        ScopedEnv tmp(L"TMP", dir.path());
        ScopedEnv temp(L"TEMP", dir.path());
        test::LogRecorder log;
        getTempDirectory();
        test::removeTree(dir.path());
        CloseHandle(CreateFileW(dir.path().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        createLauncherTempDir();
      },
      testing::ExitedWithCode(1), "");
  DeleteFileW(dir.path().c_str());
}

}  // namespace
}  // namespace pelto
