#include <gtest/gtest.h>
#include <windows.h>

#include "env/Extract.h"
#include "env/Paths.h"
#include "env/TextConv.h"
#include "launcher/ChildProcessWin.h"
#include "launcher/Config.h"
#include "launcher/ConfigBlock.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

using test::ScratchDir;
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

void writeFile(const std::string& path, const Bytes& data) {
  test::writeWhole(asW(narrowToWide(path)), std::string(data.begin(), data.end()));
}

// A packed launcher image in the scratch directory, its configuration loaded in-process (so
// IncludedFilesOffset and the 2002/2003 entries are the ones the file carries). cutTail drops
// bytes from the end of the file.
std::u16string packed(const ScratchDir& dir, ConfigBlock block, std::size_t cutTail = 0) {
  Bytes image = minimalLauncherImage();
  Bytes bytes = encodeConfigBlock(block);
  image.insert(image.end(), bytes.begin(), bytes.end());
  EXPECT_FALSE(loadConfigFromBytes(image, "en_US"));
  image.resize(image.size() - cutTail);
  std::string path = wideToNarrow(dir.u()) + "\\packed.exe";
  writeFile(path, image);
  return narrowToWide(path);
}

std::uint32_t endOfFile(const std::u16string& file) {
  return static_cast<std::uint32_t>(readFile(wideToNarrow(file)).size());
}

// The per-launch directory of a test, removed (with the temp file it was named after) at the end.
struct LaunchDir {
  LaunchDir() { LauncherTempDir.clear(); }
  ~LaunchDir() {
    if (!LauncherTempDir.empty()) test::removeTree(asW(narrowToWide(LauncherTempDir)));
    LauncherTempDir.clear();
    UnextractedPosition = 0;
  }
  std::string at(const std::string& name) const { return LauncherTempDir + "\\" + name; }
};

TEST(Extract, FilesAreUnmaskedIntoTheirOwnDirectoryWithOneLevelMadeOnDemand) {
  ScratchDir dir(L"pelto-extract");
  Bytes a = pattern(100, 1), b = pattern(6001, 2);  // 6001: a chunk of 6000 and one of 1
  ConfigBlock block;
  block.files = {{"a.jar", a}, {"lib\\b.dll", b}};
  std::u16string file = packed(dir, block);
  LaunchDir launch;
  test::LogRecorder log;
  ASSERT_EQ(extractIncludedFilesFrom(file), 0);
  ASSERT_FALSE(LauncherTempDir.empty());
  EXPECT_EQ(readFile(launch.at("a.jar")), a);
  EXPECT_EQ(readFile(launch.at("lib\\b.dll")), b);
  EXPECT_EQ(UnextractedPosition, endOfFile(file));
  EXPECT_TRUE(log.contains("Included files: 2"));
  EXPECT_TRUE(log.contains("creating directory " + launch.at("lib")));
  EXPECT_TRUE(log.contains("extracting " + launch.at("lib\\b.dll") + " (size: 6001)"));
  EXPECT_TRUE(log.contains("extracting files done"));
  // The empty temp file that lent the directory its name is gone.
  std::string borrowed = LauncherTempDir.substr(0, LauncherTempDir.rfind("_dir"));
  EXPECT_NE(borrowed.find(".tmp"), std::string::npos) << borrowed;
  EXPECT_FALSE(exists(borrowed)) << borrowed;

  // Each launch gets a directory of its own.
  std::string first = LauncherTempDir;
  ASSERT_EQ(extractIncludedFilesFrom(file), 0);
  EXPECT_NE(LauncherTempDir, first);
  EXPECT_EQ(readFile(launch.at("a.jar")), a);
  test::removeTree(asW(narrowToWide(first)));
}

TEST(Extract, ZeroCountCreatesNothingAndReadsNothing) {
  ScratchDir dir(L"pelto-extract-none");
  ConfigBlock block;
  block.describeFiles = false;
  block.strings = {{2002, "0"}, {2003, "a.jar"}};
  std::u16string file = packed(dir, block);
  LaunchDir launch;
  LauncherTempDir = "stale";
  EXPECT_EQ(extractIncludedFilesFrom(file), 0);
  EXPECT_EQ(LauncherTempDir, "");
  EXPECT_EQ(UnextractedPosition, 0u);
}

TEST(Extract, EmptyRecordsMakeNoFileAndTheCountLimitsTheNames) {
  ScratchDir dir(L"pelto-extract-count");
  Bytes a = pattern(10, 3), c = pattern(20, 4), d = pattern(5, 5);
  ConfigBlock block;
  block.describeFiles = false;
  // Count 3 over four listed names with empty entries between them; the second record is
  // empty and the fourth record is never read.
  block.strings = {{2002, "3"}, {2003, ";a.txt;;empty.txt;c.txt;d.txt"}};
  block.files = {{"a.txt", a}, {"empty.txt", {}}, {"c.txt", c}, {"d.txt", d}};
  std::u16string file = packed(dir, block);
  LaunchDir launch;
  ASSERT_EQ(extractIncludedFilesFrom(file), 0);
  EXPECT_EQ(readFile(launch.at("a.txt")), a);
  EXPECT_FALSE(exists(launch.at("empty.txt")));
  EXPECT_EQ(readFile(launch.at("c.txt")), c);
  EXPECT_FALSE(exists(launch.at("d.txt")));
  // Just behind the third record: the fourth one's length field and data remain.
  EXPECT_EQ(UnextractedPosition, endOfFile(file) - 8 - d.size());

  // Fewer names than the count: only the listed ones are read.
  block.strings = {{2002, "3"}, {2003, "a.txt;empty.txt"}};
  file = packed(dir, block);
  test::removeTree(asW(narrowToWide(LauncherTempDir)));
  ASSERT_EQ(extractIncludedFilesFrom(file), 0);
  EXPECT_EQ(readFile(launch.at("a.txt")), a);
  EXPECT_EQ(UnextractedPosition, endOfFile(file) - (8 + c.size()) - (8 + d.size()));
}

TEST(Extract, ANegativeLengthIsAnEmptyRecord) {
  ScratchDir dir(L"pelto-extract-negative");
  ConfigBlock block;
  block.describeFiles = false;
  block.strings = {{2002, "2"}, {2003, "neg.bin;b.bin"}};
  Bytes b = pattern(3, 6);
  for (int i = 0; i < 8; ++i) block.trailer.push_back(0xFF);  // length -1
  appendIncludedRecord(block.trailer, b);
  std::u16string file = packed(dir, block);
  LaunchDir launch;
  ASSERT_EQ(extractIncludedFilesFrom(file), 0);
  EXPECT_FALSE(exists(launch.at("neg.bin")));
  EXPECT_EQ(readFile(launch.at("b.bin")), b);
}

TEST(Extract, ARecordLongerThanTheFileFailsAsAReadAndLeavesNoHandleOpen) {
  ScratchDir dir(L"pelto-extract-short");
  ConfigBlock block;
  block.files = {{"big.bin", pattern(9000, 7)}};
  std::u16string file = packed(dir, block, 1000);
  LaunchDir launch;
  test::LogRecorder log;
  EXPECT_EQ(extractIncludedFilesFrom(file), 1);
  EXPECT_TRUE(log.contains("ERROR: ReadFile failed 0 "));
  EXPECT_TRUE(log.contains(" 8000"));
  EXPECT_TRUE(log.contains("ERROR: Failed to extract " + launch.at("big.bin")));
  // The target was closed: the exit clean-up can delete it.
  EXPECT_TRUE(DeleteFileA(launch.at("big.bin").c_str()));
}

TEST(Extract, AHugeClaimedLengthIsReadInChunksNotAllocated) {
  ScratchDir dir(L"pelto-extract-huge");
  ConfigBlock block;
  block.describeFiles = false;
  block.strings = {{2002, "1"}, {2003, "huge.bin"}};
  for (int v : {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F})
    block.trailer.push_back(static_cast<unsigned char>(v));
  block.trailer.push_back(0xA7);
  std::u16string file = packed(dir, block);
  LaunchDir launch;
  EXPECT_EQ(extractIncludedFilesFrom(file), 1);
  EXPECT_EQ(readFile(launch.at("huge.bin")), Bytes{0});
}

// The fatal cases run in a death test's own process; the directory of that launch is found
// afterwards through the log-free route of the temp directory listing.
std::vector<std::string> launchDirsIn(const std::string& temp) {
  std::vector<std::string> found;
  WIN32_FIND_DATAA d;
  HANDLE h = FindFirstFileA((temp + "plo*.tmp_dir*").c_str(), &d);
  if (h == INVALID_HANDLE_VALUE) return found;
  do found.push_back(d.cFileName);
  while (FindNextFileA(h, &d));
  FindClose(h);
  return found;
}

// The launch folders in temp that were not there before. Other tests running at the same time
// make and remove their own, and the death test's child may take a moment to let its go.
std::vector<std::string> newLaunchDirs(const std::string& temp, const std::vector<std::string>& before) {
  std::vector<std::string> fresh;
  for (int i = 0; i < 50; ++i) {
    fresh.clear();
    for (const std::string& d : launchDirsIn(temp))
      if (std::find(before.begin(), before.end(), d) == before.end()) fresh.push_back(d);
    if (fresh.empty()) break;
    Sleep(100);
  }
  return fresh;
}

TEST(Extract, MoreRecordsClaimedThanTheFileHoldsEndInTheReadLongError) {
  ScratchDir dir(L"pelto-extract-entries", false);
  ConfigBlock block;
  block.describeFiles = false;
  block.strings = {{2002, "2"}, {2003, "a.bin;b.bin"}};
  appendIncludedRecord(block.trailer, pattern(4, 8));
  std::u16string file = packed(dir, block);
  std::string temp = getTempDirectory();
  auto before = launchDirsIn(temp);
  EXPECT_EXIT(extractIncludedFilesFrom(file), testing::ExitedWithCode(1), "Internal Error: readLong");
  EXPECT_TRUE(newLaunchDirs(temp, before).empty());  // removed on the way out
}

TEST(Extract, NamesThatLeaveTheDirectoryAreRefusedBeforeAnythingIsWritten) {
  ScratchDir dir(L"pelto-extract-unsafe", false);
  std::string outside = wideToNarrow(dir.u()) + "\\escaped.txt";
  std::string temp = getTempDirectory();
  auto before = launchDirsIn(temp);
  LauncherConfig.wide[1009] = u"Launch failed: {0}";
  for (std::string name : {std::string("..\\escaped.txt"), std::string("lib\\..\\..\\escaped.txt"),
                           std::string("ok.txt;") + outside, std::string("..")}) {
    ConfigBlock block;
    block.describeFiles = false;
    block.strings = {{2002, "2"}, {2003, name}};
    appendIncludedRecord(block.trailer, pattern(4, 9));
    appendIncludedRecord(block.trailer, pattern(4, 9));
    std::u16string file = packed(dir, block);
    LauncherConfig.wide[1009] = u"Launch failed: {0}";
    EXPECT_EXIT(extractIncludedFilesFrom(file), testing::ExitedWithCode(1), "Launch failed: 11") << name;
    EXPECT_FALSE(exists(outside)) << name;
    EXPECT_FALSE(exists(temp + "escaped.txt")) << name;
  }
  EXPECT_TRUE(newLaunchDirs(temp, before).empty());
}

TEST(Extract, ATargetThatCannotBeCreatedEndsWithDetailEleven) {
  ScratchDir dir(L"pelto-extract-deep", false);
  ConfigBlock block;
  block.files = {{"a\\b\\c.txt", pattern(4, 10)}};  // only "a" is made
  std::u16string file = packed(dir, block);
  LauncherConfig.wide[1009] = u"Launch failed: {0}";
  EXPECT_EXIT(extractIncludedFilesFrom(file), testing::ExitedWithCode(1), "Launch failed: 11");
}

// The clean-up at exit.
struct Tree {
  ScratchDir root{L"pelto-empty"};
  std::string at(const std::string& rel) const { return wideToNarrow(root.u()) + "\\" + rel; }
  void dir(const std::string& rel) const { CreateDirectoryA(at(rel).c_str(), nullptr); }
  void file(const std::string& rel) const { writeFile(at(rel), {1, 2, 3}); }
};

TEST(EmptyDirectory, RemovesOneLevelOfSubdirectoriesAndLeavesDeeperTreesWhole) {
  Tree t;
  t.file("x.jar");
  t.dir("lib");
  t.file("lib\\x.dll");
  t.dir("a");
  t.dir("a\\b");
  t.file("a\\b\\c.txt");
  emptyDirectory(wideToNarrow(t.root.u()), true);
  EXPECT_FALSE(exists(t.at("x.jar")));
  EXPECT_FALSE(exists(t.at("lib")));
  EXPECT_TRUE(exists(t.at("a\\b\\c.txt")));

  // Without recursion a subdirectory with files stays.
  t.dir("keep");
  t.file("keep\\k.txt");
  t.file("y.txt");
  emptyDirectory(wideToNarrow(t.root.u()) + "\\", false);
  EXPECT_FALSE(exists(t.at("y.txt")));
  EXPECT_TRUE(exists(t.at("keep\\k.txt")));
}

TEST(EmptyDirectory, EmptyAndRelativeDirectoriesAreNeverTouched) {
  test::LogRecorder log;
  emptyDirectory("", true);
  emptyDirectory(".", true);
  emptyDirectory("..\\x", true);
  EXPECT_FALSE(log.contains("emptying"));
}

// A directory link planted in the per-launch directory: the clean-up removes the link and
// leaves the files it points at.
TEST(EmptyDirectory, ALinkIsRemovedAsAnEntryAndNeverFollowed) {
  Tree t;
  t.dir("victim");
  t.file("victim\\precious.txt");
  t.dir("launch");
  std::wstring link = asW(narrowToWide(t.at("launch\\link")));
  std::wstring target = asW(narrowToWide(t.at("victim")));
  if (!CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY))
    GTEST_SKIP() << "no directory links here (error " << GetLastError() << ")";
  // Wine reports success without making the link; the decision itself is tested portably.
  DWORD attributes = GetFileAttributesW(link.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    GTEST_SKIP() << "no directory links here";
  emptyDirectory(t.at("launch"), true);
  EXPECT_TRUE(exists(t.at("victim\\precious.txt")));
  EXPECT_FALSE(exists(t.at("launch\\link")));
}

}  // namespace
}  // namespace pelto
