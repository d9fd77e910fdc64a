#include <gtest/gtest.h>
#include <windows.h>

#include "env/Paths.h"
#include "env/TextConv.h"
#include "launcher/ChildProcessWin.h"

namespace pelto {
namespace {

using test::ScopedEnv;

// Which candidates pass is seen end to end (tests/e2e, fault_temp_*).
TEST(TempDir, CandidatesInTheirFixedOrderAndUnavailableSourcesSkipped) {
  ScopedEnv tmp(L"TMP", L"C:\\tmpA");
  ScopedEnv profile(L"USERPROFILE", L"C:\\users\\p");
  ScopedEnv drive(L"HOMEDRIVE", L"D:");
  ScopedEnv home(L"HOMEPATH", L"\\h");
  wchar_t windows[MAX_PATH];
  GetWindowsDirectoryW(windows, MAX_PATH);
  std::u16string w = asU(windows), profileTemp = u"C:\\users\\p\\AppData\\Local\\Temp";
  // clang-format off
  std::vector<TempCandidate<std::u16string>> expected = {
      {u"C:\\tmpA\\", true, true}, {profileTemp, false, true}, {u"D:\\h", false, true},
      {w + u"\\temp", false, false}, {u"c:\\temp", false, false}, {u"c:\\tmp", false, false},
      {w, false, false}, {u"c:\\tmp", true, false}, {u"C:\\tmpA\\", true, false},
      {profileTemp, false, false}, {u"D:\\h", false, false}};
  // clang-format on
  EXPECT_FALSE(testTempCandidate(w + u"\\notepad.exe", false, false));  // a plain file is no folder
  auto list = tempCandidatesWide();
  ASSERT_EQ(list.size(), expected.size());
  for (std::size_t i = 0; i < list.size(); ++i)
    EXPECT_EQ(std::tuple(list[i].path, list[i].create, list[i].rejectUnrepresentable),
              std::tuple(expected[i].path, expected[i].create, expected[i].rejectUnrepresentable))
        << i;
  ScopedEnv noProfile(L"USERPROFILE", std::nullopt);
  ScopedEnv noHome(L"HOMEPATH", std::nullopt);
  EXPECT_EQ(tempCandidatesWide().size(), 7u);
}

}  // namespace
}  // namespace pelto
