#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <numeric>

#include "env/Extract.h"
#include "env/Paths.h"
#include "env/TextConv.h"
#include "launcher/ChildProcessWin.h"
#include "launcher/Config.h"
#include "launcher/ConfigBlock.h"

namespace pelto {
namespace {

using Bytes = std::vector<unsigned char>;

std::string readFile(const std::string& path) {
  return test::readWhole(asW(narrowToWide(path)));
}

// A packed launcher image in dir, with the block's 2002/2003 entries loaded.
std::u16string packed(const test::ScratchDir& dir, const ConfigBlock& block) {
  Bytes image = minimalLauncherImage(), bytes = encodeConfigBlock(block);
  image.insert(image.end(), bytes.begin(), bytes.end());
  EXPECT_FALSE(loadConfigFromBytes(image, "en_US"));
  test::writeWhole(dir.path() + L"\\packed.exe", std::string(image.begin(), image.end()));
  return dir.u() + u"\\packed.exe";
}

// The launch folders in temp; a death test's child may take a moment to let go of its own, so an
// expected count is waited for.
std::size_t launchFolders(std::size_t expected = SIZE_MAX) {
  auto isLaunchFolder = [](const std::wstring& e) {
    return e.rfind(L"plo", 0) == 0 && e.find(L"_dir") != std::wstring::npos;
  };
  for (int i = 0;; ++i, Sleep(100)) {
    std::vector<std::wstring> names = test::listDir(asW(narrowToWide(getTempDirectory())));
    auto n = static_cast<std::size_t>(std::count_if(names.begin(), names.end(), isLaunchFolder));
    if (n == expected || expected == SIZE_MAX || i == 50) return n;
  }
}

std::string at(const std::string& name) {
  return LauncherTempDir + "\\" + name;
}

TEST(Extract, RecordsAreUnmaskedIntoAProtectedFolderOfTheirOwn) {
  test::ScratchDir dir(L"pelto-extract");
  Bytes a(6001), c = {'c', 0, 0xFF};  // 6001: chunks of 6000 and 1
  std::iota(a.begin(), a.end(), 0);
  ConfigBlock block;
  block.describeFiles = false;
  // Count 3 over four names with empty entries between them: the empty record makes no file, the
  // fourth record is never read.
  block.strings = {{2002, "3"}, {2003, ";lib\\ext\\a.dll;;empty.txt;lib\\c.txt;d.txt"}};
  block.files = {{"lib\\ext\\a.dll", a}, {"empty.txt", {}}, {"lib\\c.txt", c}, {"d.txt", c}};
  std::u16string file = packed(dir, block);
  ASSERT_EQ(extractIncludedFilesFrom(file), 0);
  EXPECT_EQ(readFile(at("lib\\ext\\a.dll")), std::string(a.begin(), a.end()));
  EXPECT_EQ(readFile(at("lib\\c.txt")), std::string(c.begin(), c.end()));
  EXPECT_EQ(GetFileAttributesA(at("empty.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA(at("d.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(UnextractedPosition, readFile(wideToNarrow(file)).size() - 8 - c.size());
  // The empty temp file that lent the folder its name is gone.
  EXPECT_EQ(GetFileAttributesA(LauncherTempDir.substr(0, LauncherTempDir.rfind("_dir")).c_str()),
            INVALID_FILE_ATTRIBUTES);
  // Nobody but the user, SYSTEM and Administrators: no entry for Everyone (the temp folder's).
  PSECURITY_DESCRIPTOR sd = nullptr;
  LPSTR sddl = nullptr;
  GetNamedSecurityInfoA(LauncherTempDir.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, 0, 0, 0, 0, &sd);
  ConvertSecurityDescriptorToStringSecurityDescriptorA(sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl,
                                                       0);
  std::string dacl = sddl ? sddl : "none";
  EXPECT_EQ(dacl.find(";WD)"), std::string::npos) << dacl;  // Wine keeps no protected flag to look at
  LocalFree(sddl);
  LocalFree(sd);
  // Seen as another launch of this executable sees it: the held marker keeps the folder.
  std::string folder = LauncherTempDir;
  LauncherTempDir.clear();
  removeEndedLaunchFolders();
  LauncherTempDir = folder;
  EXPECT_EQ(readFile(at("lib\\c.txt")), std::string(c.begin(), c.end()));
  emptyDirectory(LauncherTempDir, true);
  EXPECT_TRUE(RemoveDirectoryA(LauncherTempDir.c_str()));  // the marker was let go of first
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
      {"a.jar;A.JAR", 2, "Launch failed: 11"},  // made once
      {"lib;lib\\a.jar", 2, "Launch failed: 11"},
      {"pelto.lock", 1, "Launch failed: 11"},
      {"a.bin;b.bin", 1, "Internal Error: readLong"},
  };
  std::size_t before = launchFolders();
  for (const Case& c : cases) {
    ConfigBlock block;
    block.describeFiles = false;
    block.strings = {{2002, "2"}, {2003, c.names}};
    for (int i = 0; i < c.records; ++i) appendIncludedRecord(block.trailer, Bytes(4, 9));
    std::u16string file = packed(dir, block);
    LauncherConfig.wide[1009] = u"Launch failed: {0}";
    EXPECT_EXIT(extractIncludedFilesFrom(file), testing::ExitedWithCode(1), c.message) << c.names;
    EXPECT_EQ(GetFileAttributesA(outside.c_str()), INVALID_FILE_ATTRIBUTES) << c.names;
  }
  EXPECT_EQ(launchFolders(before), before);
}

}  // namespace
}  // namespace pelto
