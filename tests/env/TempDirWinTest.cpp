#include <gtest/gtest.h>
#include <windows.h>

#include "env/Paths.h"
#include "env/TextConv.h"
#include "launcher/ChildProcessWin.h"

namespace pelto {
namespace {

using test::ScopedEnv;

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
  auto list = tempCandidatesWide();
  ASSERT_EQ(list.size(), expected.size());
  for (std::size_t i = 0; i < list.size(); ++i) {
    EXPECT_EQ(list[i].path, expected[i].path) << i;
    EXPECT_EQ(list[i].create, expected[i].create) << i;
    EXPECT_EQ(list[i].rejectUnrepresentable, expected[i].rejectUnrepresentable) << i;
  }
  EXPECT_EQ(tempCandidates()[2].path, "D:\\h");
  ScopedEnv noProfile(L"USERPROFILE", std::nullopt);
  ScopedEnv noHome(L"HOMEPATH", std::nullopt);
  EXPECT_EQ(tempCandidatesWide().size(), 7u);
}

TEST(TempDir, EachCandidateIsProvenWritableAndTheFirstThatPassesWins) {
  test::ScratchDir dir(L"pelto-cand");
  std::u16string base = dir.u(), made = base + u"\\made", odd = base + u"\\x\u4e2d";
  ASSERT_TRUE(CreateDirectoryW(asW(odd).c_str(), nullptr));
  test::writeWhole(dir.path() + L"\\file", "x");
  bool singleByte = GetACP() != CP_UTF8;
  // clang-format off
  struct Case { std::u16string path; bool create, reject, passes; } cases[] = {
      {u"", true, false, false}, {base + u"\\no\\deeper", true, false, false},
      {base + u"\\file", false, false, false}, {base + u"\\absent", false, false, false},
      {made, true, true, true}, {odd, false, true, !singleByte}, {odd, false, false, true}};
  // clang-format on
  for (const Case& c : cases)
    EXPECT_EQ(testTempCandidate(c.path, c.create, c.reject), c.passes) << asW(c.path);
  EXPECT_EQ(test::listDir(dir.path()).size(), 3u);  // no probe left behind
  std::vector<TempCandidate<std::u16string>> list = {
      {odd, false, true}, {odd, false, false}, {made, false, false}};
  EXPECT_EQ(findTempDirectoryAmong(list, false), odd);
  std::vector<TempCandidate<std::u16string>> none = {{u"Q:\\nowhere", true, false}};
  EXPECT_EQ(findTempDirectoryAmong(none, false), u"");
  EXPECT_EXIT(findTempDirectoryAmong(none, true), testing::ExitedWithCode(1), "");
}

}  // namespace
}  // namespace pelto
