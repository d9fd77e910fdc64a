#include <gtest/gtest.h>

#include "env/LaunchFolders.h"

namespace pelto {
namespace {

constexpr std::uint32_t File = 0x20, Folder = AttributeDirectory, Link = AttributeReparsePoint;

// What is done with an entry found in a launch folder. Seen end to end in ExtractWinTest, except
// the removal of links, which Wine does not do faithfully.
TEST(LaunchFolders, EntriesAreRemovedAsWhatTheyAreAndOddNamesNeverActedOn) {
  using enum EntryAction;
  for (auto [name, attributes, owned, action] :
       {std::tuple{u"a.jar", File, true, Delete},
        {u"lib", Folder, true, EmptyThenRemove},
        {u"file-link", File | Link, true, RemoveLink},
        {u"junction", Folder | Link, true, RemoveLink},                                  // never entered
        {u"\uFF0E\uFF0E\uFF3C\uFF0E\uFF0E\uFF3Cvictim", Folder, true, EmptyThenRemove},  // its own name
        {u"planted", Folder, false, Leave},
        {u"planted.txt", File, false, Leave},
        {u".", Folder, true, Leave},
        {u"..", Folder, true, Leave},
        {u"", File, true, Leave},
        {u"..\\..\\victim", Folder, true, Leave},
        {u"../victim", File, true, Leave},
        {u"a.jar:stream", File, true, Leave},
        {u"C:victim", File, true, Leave}})
    EXPECT_EQ(entryActionFor(name, attributes, owned), action) << static_cast<int>(action);
}

TEST(LaunchFolders, OnlyOwnedPlainFoldersOfTheLaunchNamePatternAreSwept) {
  const std::u16string name = launchFolderName(0x0123456789abcdefULL);
  EXPECT_EQ(name, u"plo0123456789abcdef");
  EXPECT_EQ(launchParentName(u"S-1-5-18"), u"pelto-S-1-5-18");
  for (auto [folder, attributes, owned, swept] :
       {std::tuple{name, Folder, true, true},
        {name, Folder, false, false},
        {name, Folder | Link, true, false},
        {name, File, true, false},
        {u"plo0123456789ABCDEF", Folder, true, false},
        {u"plo0123456789abcde", Folder, true, false},
        {u"plo0123456789abcdef0", Folder, true, false},
        {u"ploA1B2.tmp_dir1700000000", Folder, true, false},  // where launches used to leave theirs
        {u"pelto-S-1-5-18", Folder, true, false}})
    EXPECT_EQ(maySweepFolder(folder, attributes, owned), swept) << std::string(folder.begin(), folder.end());
}

}  // namespace
}  // namespace pelto
