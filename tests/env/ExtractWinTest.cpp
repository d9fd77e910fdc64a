#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <numeric>

#include "env/Extract.h"
#include "env/LaunchFolders.h"
#include "env/Paths.h"
#include "env/TextConv.h"
#include "launcher/ChildProcessWin.h"
#include "launcher/Config.h"
#include "launcher/ConfigBlock.h"
#include "launcher/Fatal.h"

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

// The launch folders in the account's parent; a death test's child may take a moment to let go
// of its own, so an expected count is waited for.
std::size_t launchFolders(std::size_t expected = SIZE_MAX) {
  auto isLaunchFolder = [](const std::wstring& e) { return isLaunchFolderName(asU(e)); };
  for (int i = 0;; ++i, Sleep(100)) {
    std::vector<std::wstring> names = test::listDir(asW(launchParentPath()));
    auto n = static_cast<std::size_t>(std::count_if(names.begin(), names.end(), isLaunchFolder));
    if (n == expected || expected == SIZE_MAX || i == 50) return n;
  }
}

// Runs a program of the host (Wine starts those too, with no handle to wait on) on the Unix forms
// of the paths, until the last path exists or not as asked. Wine makes no link itself
// (CreateSymbolicLinkW does nothing, and moving a link moves its target), so the host's ln does.
void onHost(const wchar_t* program, const std::wstring& options, std::initializer_list<std::wstring> paths,
            bool lastExists) {
  using ToUnix = char*(CDECL*)(LPCWSTR);
  auto toUnix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  ASSERT_TRUE(toUnix);
  std::wstring command = std::wstring(program) + L" " + options;
  for (const std::wstring& path : paths) {
    char* unix = toUnix(path.c_str());
    command += L" \"" + asW(narrowToWide(unix)) + L"\"";
    HeapFree(GetProcessHeap(), 0, unix);
  }
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW((L"Z:" + std::wstring(program)).c_str(), command.data(), nullptr, nullptr, FALSE,
                             0, nullptr, nullptr, &si, &pi));
  for (int i = 0; i < 100 && (GetFileAttributesW(std::data(paths)[paths.size() - 1].c_str()) !=
                              INVALID_FILE_ATTRIBUTES) != lastExists;
       ++i)
    Sleep(100);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
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
  // Count 3 over four names with empty entries between them: the empty record makes an empty
  // file, the fourth record is never read.
  block.strings = {{2002, "3"}, {2003, ";lib\\ext\\a.dll;;empty.txt;lib\\c.txt;d.txt"}};
  block.files = {{"lib\\ext\\a.dll", a}, {"empty.txt", {}}, {"lib\\c.txt", c}, {"d.txt", c}};
  std::u16string file = packed(dir, block);
  ASSERT_EQ(extractIncludedFilesFrom(file), 0);
  EXPECT_EQ(readFile(at("lib\\ext\\a.dll")), std::string(a.begin(), a.end()));
  EXPECT_EQ(readFile(at("lib\\c.txt")), std::string(c.begin(), c.end()));
  EXPECT_NE(GetFileAttributesA(at("empty.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(readFile(at("empty.txt")), "");
  EXPECT_EQ(GetFileAttributesA(at("d.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(UnextractedPosition, readFile(wideToNarrow(file)).size() - 8 - c.size());
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
  // Seen as any launch sees it: the held marker keeps the folder.
  removeEndedLaunchFolders();
  EXPECT_EQ(readFile(at("lib\\c.txt")), std::string(c.begin(), c.end()));
  std::string folder = LauncherTempDir;
  removeOwnLaunchFolder();
  EXPECT_EQ(GetFileAttributesA(folder.c_str()), INVALID_FILE_ATTRIBUTES);
}

// A launch that ends on the fatal path while its JVM holds a file open leaves that file, and the
// marker, for the next launch to remove.
TEST(Extract, AFolderTheFatalPathCouldNotEmptyIsRemovedByTheNextLaunch) {
  test::ScratchDir dir(L"pelto-extract-held", false);
  ConfigBlock block;
  block.describeFiles = false;
  block.strings = {{2002, "1"}, {2003, "pelto-runtime.jar"}};
  block.files = {{"pelto-runtime.jar", Bytes(4, 9)}};
  std::u16string file = packed(dir, block);
  removeEndedLaunchFolders();
  std::size_t before = launchFolders();
  // Without delete sharing the jar cannot go; with it, it goes only when its holder ends.
  for (DWORD share : {0ul, static_cast<unsigned long>(FILE_SHARE_DELETE)}) {
    EXPECT_EXIT(
        {
          extractIncludedFilesFrom(file);
          CreateFileW(wptr(LauncherTempDirWide + u"\\pelto-runtime.jar"), GENERIC_READ, share, nullptr,
                      OPEN_EXISTING, 0, nullptr);
          exitLauncher(1);
        },
        testing::ExitedWithCode(1), "");
    EXPECT_EQ(launchFolders(before + 1), before + 1) << share;
    removeEndedLaunchFolders();
    EXPECT_EQ(launchFolders(before), before) << share;
  }
}

// Folders planted where launches used to leave theirs are not touched; in an ended launch's
// folder, names that a narrow listing would turn into "..\" are removed as themselves, and a
// link is not entered.
TEST(Extract, TheSweepRemovesEndedLaunchFoldersAndNothingBeyondThem) {
  test::ScratchDir victim(L"pelto-victim");
  const std::wstring temp = asW(getTempDirectory(false)), keep = victim.path() + L"\\keep.txt",
                     victimFile = victim.path() + L".txt", victimName = victim.path().substr(temp.size());
  const std::wstring up = L"\uFF0E\uFF0E\uFF3C", parent = asW(launchParentPath());
  test::writeWhole(keep, "keep");
  test::writeWhole(victimFile, "keep");
  auto plant = [&](const std::wstring& folder, const std::wstring& climb, const std::string& marker) {
    CreateDirectoryW(folder.c_str(), nullptr);
    test::writeWhole(folder + L"\\pelto.lock", marker);
    CreateDirectoryW((folder + L"\\" + climb + victimName).c_str(), nullptr);
    test::writeWhole(folder + L"\\" + climb + victimName + L"\\x.txt", "x");
    test::writeWhole(folder + L"\\" + climb + victimName + L".txt", "x");
  };
  const std::wstring old = temp + L"ploA1B2.tmp_dir1700000000", ended = parent + L"\\plo00000000000000e1",
                     linked = parent + L"\\plo00000000000000e2";
  plant(old, up, getExecutablePath());
  plant(ended, up + up, "");
  CreateDirectoryW(linked.c_str(), nullptr);
  test::writeWhole(linked + L"\\pelto.lock", "");
  onHost(L"/bin/ln", L"-s", {victim.path(), linked + L"\\link"}, true);
  ASSERT_EQ(GetFileAttributesW((linked + L"\\link\\keep.txt").c_str()), FILE_ATTRIBUTE_ARCHIVE);
  removeEndedLaunchFolders();
  EXPECT_EQ(test::readWhole(keep), "keep");
  EXPECT_EQ(test::readWhole(victimFile), "keep");
  EXPECT_EQ(test::readWhole(old + L"\\pelto.lock"), getExecutablePath());
  EXPECT_EQ(test::readWhole(old + L"\\" + up + victimName + L"\\x.txt"), "x");
  EXPECT_EQ(test::readWhole(old + L"\\" + up + victimName + L".txt"), "x");
  EXPECT_EQ(GetFileAttributesW(ended.c_str()), INVALID_FILE_ATTRIBUTES);
  test::removeTree(old);
  onHost(L"/bin/rm", L"", {linked + L"\\link"}, false);
  test::removeTree(linked);
  DeleteFileW(victimFile.c_str());
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
      {"a.bin", -1, "Launch failed: 16"},  // its record one byte short of its length
  };
  std::size_t before = launchFolders();
  for (const Case& c : cases) {
    ConfigBlock block;
    block.describeFiles = false;
    block.strings = {{2002, "2"}, {2003, c.names}};
    for (int i = 0; i < std::abs(c.records); ++i) appendIncludedRecord(block.trailer, Bytes(4, 9));
    if (c.records < 0) block.trailer.pop_back();
    std::u16string file = packed(dir, block);
    LauncherConfig.wide[1009] = u"Launch failed: {0}";
    EXPECT_EXIT(
        {
          if (extractIncludedFilesFrom(file) != 0) raiseLaunchError(1009, std::u16string_view(u"16"));
        },
        testing::ExitedWithCode(1), c.message)
        << c.names;
    EXPECT_EQ(GetFileAttributesA(outside.c_str()), INVALID_FILE_ATTRIBUTES) << c.names;
  }
  EXPECT_EQ(launchFolders(before), before);
}

}  // namespace
}  // namespace pelto
