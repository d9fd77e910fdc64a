#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include "env/Extract.h"
#include "env/Paths.h"
#include "env/TextConv.h"
#include "launcher/ChildProcessWin.h"
#include "launcher/Config.h"
#include "launcher/ConfigBlock.h"
#include "support/DoublesWin.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes pattern(std::size_t n, unsigned seed) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>((i * 31 + seed) & 0xFF);
  return b;
}

Bytes readFile(const std::string& path) {
  std::string data = test::readWhole(asW(narrowToWide(path)));
  return Bytes(data.begin(), data.end());
}

bool exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A packed launcher image in dir, its configuration loaded in-process (so IncludedFilesOffset
// and the 2002/2003 entries are the ones the file carries); cutTail drops bytes from its end.
std::u16string packed(const test::ScratchDir& dir, ConfigBlock block, std::size_t cutTail = 0) {
  Bytes image = minimalLauncherImage(), bytes = encodeConfigBlock(block);
  image.insert(image.end(), bytes.begin(), bytes.end());
  EXPECT_FALSE(loadConfigFromBytes(image, "en_US"));
  image.resize(image.size() - cutTail);
  test::writeWhole(dir.path() + L"\\packed.exe", std::string(image.begin(), image.end()));
  return dir.u() + u"\\packed.exe";
}

std::string at(const std::string& name) {
  return LauncherTempDir + "\\" + name;
}

// The launch folders in temp that were not there before; a death test's child may take a
// moment to let go of its own.
std::vector<std::string> launchDirs(const std::vector<std::string>& before = {}) {
  std::vector<std::string> fresh;
  for (int i = 0; i < 50; ++i) {
    fresh.clear();
    WIN32_FIND_DATAA d;
    HANDLE h = FindFirstFileA((getTempDirectory() + "plo*.tmp_dir*").c_str(), &d);
    for (bool more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileA(h, &d))
      if (std::find(before.begin(), before.end(), d.cFileName) == before.end()) fresh.push_back(d.cFileName);
    if (h != INVALID_HANDLE_VALUE) FindClose(h);
    if (fresh.empty() || before.empty()) break;
    Sleep(100);
  }
  return fresh;
}

TEST(Extract, RecordsAreUnmaskedIntoAProtectedFolderOfTheirOwnAndTheWholeTreeGoesAtExit) {
  test::ScratchDir dir(L"pelto-extract");
  Bytes a = pattern(100, 1), b = pattern(6001, 2), c = pattern(5, 3);  // 6001: chunks of 6000 and 1
  ConfigBlock block;
  block.describeFiles = false;
  // Count 4 over five names with empty entries between them: the empty record makes no file, the
  // fifth record is never read.
  block.strings = {{2002, "4"}, {2003, ";a.jar;;lib\\ext\\b.dll;empty.txt;lib\\c.txt;d.txt"}};
  block.files = {{"a.jar", a}, {"lib\\ext\\b.dll", b}, {"empty.txt", {}}, {"lib\\c.txt", c}, {"d.txt", c}};
  std::u16string file = packed(dir, block);
  test::LogRecorder log;
  ASSERT_EQ(extractIncludedFilesFrom(file), 0);
  EXPECT_EQ(readFile(at("a.jar")), a);
  EXPECT_EQ(readFile(at("lib\\ext\\b.dll")), b);
  EXPECT_EQ(readFile(at("lib\\c.txt")), c);
  EXPECT_FALSE(exists(at("empty.txt")));
  EXPECT_FALSE(exists(at("d.txt")));
  EXPECT_EQ(UnextractedPosition, readFile(wideToNarrow(file)).size() - 8 - c.size());
  EXPECT_TRUE(log.contains("extracting " + at("lib\\ext\\b.dll") + " (size: 6001)"));
  // The empty temp file that lent the folder its name is gone.
  EXPECT_FALSE(exists(LauncherTempDir.substr(0, LauncherTempDir.rfind("_dir"))));
  // Nobody but the user, SYSTEM and Administrators: no entry for Everyone (the temp folder's).
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoA(LauncherTempDir.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, &dacl, nullptr, &sd),
            ERROR_SUCCESS);
  LPSTR sddl = nullptr;
  ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(
      sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr));
  EXPECT_EQ(std::string(sddl).find(";WD)"), std::string::npos) << sddl;
  LocalFree(sddl);
  LocalFree(sd);
  // The clean-up at exit removes the whole tree.
  std::string folder = LauncherTempDir;
  emptyDirectory(folder, true);
  EXPECT_TRUE(RemoveDirectoryA(folder.c_str())) << folder;
  LauncherTempDir.clear();
}

TEST(Extract, ZeroCountCreatesNothingAndReadsNothing) {
  test::ScratchDir dir(L"pelto-extract-none");
  ConfigBlock block;
  block.describeFiles = false;
  block.strings = {{2002, "0"}, {2003, "a.jar"}};
  LauncherTempDir = "stale";
  UnextractedPosition = 0;
  EXPECT_EQ(extractIncludedFilesFrom(packed(dir, block)), 0);
  EXPECT_EQ(LauncherTempDir, "");
  EXPECT_EQ(UnextractedPosition, 0u);
}

TEST(Extract, ARecordLongerThanTheFileFailsAsAReadAndLeavesNoHandleOpen) {
  test::ScratchDir dir(L"pelto-extract-short");
  ConfigBlock block;
  block.files = {{"big.bin", pattern(9000, 7)}};
  test::LogRecorder log;
  EXPECT_EQ(extractIncludedFilesFrom(packed(dir, block, 1000)), 1);
  EXPECT_TRUE(log.contains("ERROR: ReadFile failed 0 "));
  EXPECT_TRUE(log.contains(" 8000"));
  EXPECT_TRUE(DeleteFileA(at("big.bin").c_str()));  // closed: the exit clean-up can delete it
  emptyDirectory(LauncherTempDir, true);
  RemoveDirectoryA(LauncherTempDir.c_str());
  LauncherTempDir.clear();
}

// Each row ends the launch on the fatal path, in a death test's own process, and leaves no folder.
TEST(Extract, RefusedNamesTakenNamesAndShortFilesEndTheLaunchAndLeaveNothing) {
  test::ScratchDir dir(L"pelto-extract-fatal", false);
  std::string outside = wideToNarrow(dir.u()) + "\\escaped.txt";
  struct Case {
    std::string names;
    int records;
    const char* message;
  } cases[] = {
      {"..\\escaped.txt;x", 2, "Launch failed: 11"},
      {"ok.txt;" + outside, 2, "Launch failed: 11"},
      {"aux.jar", 1, "Launch failed: 11"},
      {"a.jar;A.JAR", 2, "Launch failed: 11"},          // the name is taken: never written twice
      {"lib;lib\\a.jar", 2, "Launch failed: 11"},       // a file where a folder is to be made
      {"pelto.lock", 1, "Launch failed: 11"},  // the launch's own marker
      {"a.bin;b.bin", 1, "Internal Error: readLong"},
  };
  auto before = launchDirs();
  before.push_back("none");
  for (const Case& c : cases) {
    ConfigBlock block;
    block.describeFiles = false;
    block.strings = {{2002, "2"}, {2003, c.names}};
    for (int i = 0; i < c.records; ++i) appendIncludedRecord(block.trailer, pattern(4, 9));
    std::u16string file = packed(dir, block);
    LauncherConfig.wide[1009] = u"Launch failed: {0}";
    EXPECT_EXIT(extractIncludedFilesFrom(file), testing::ExitedWithCode(1), c.message) << c.names;
    EXPECT_FALSE(exists(outside)) << c.names;
    EXPECT_TRUE(launchDirs(before).empty()) << c.names;
  }
}

// A directory link planted in the folder: the clean-up removes the link, never what it points at.
TEST(EmptyDirectory, ALinkIsRemovedAsAnEntryAndNeverFollowed) {
  test::ScratchDir t(L"pelto-empty");
  test::writeText(t.path() + L"\\victim\\precious.txt", "x");
  CreateDirectoryW((t.path() + L"\\launch").c_str(), nullptr);
  std::wstring link = t.path() + L"\\launch\\link";
  CreateSymbolicLinkW(link.c_str(), (t.path() + L"\\victim").c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY);
  DWORD attributes = GetFileAttributesW(link.c_str());
  // Wine reports success without making the link; the decision itself is tested portably.
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    GTEST_SKIP() << "no directory links here";
  emptyDirectory(wideToNarrow(t.u()) + "\\launch", true);
  EXPECT_TRUE(test::fileExists(t.path() + L"\\victim\\precious.txt"));
  EXPECT_FALSE(test::fileExists(link));
}

}  // namespace
}  // namespace pelto
