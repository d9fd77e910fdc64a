// The decisions of the launch folders' clean-up; no file system involved.
#include "env/LaunchFolders.h"

namespace pelto {
namespace {

constexpr std::u16string_view FolderPrefix = u"plo";
constexpr std::size_t FolderDigits = 16;

bool isLowerHex(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
}

}  // namespace

std::u16string launchParentName(std::u16string_view sid) {
  return u"pelto-" + std::u16string(sid);
}

std::u16string launchFolderName(std::uint64_t random) {
  std::u16string name(FolderPrefix);
  for (int shift = 60; shift >= 0; shift -= 4) name += u"0123456789abcdef"[(random >> shift) & 15];
  return name;
}

bool isLaunchFolderName(std::u16string_view name) {
  if (name.size() != FolderPrefix.size() + FolderDigits ||
      name.substr(0, FolderPrefix.size()) != FolderPrefix)
    return false;
  for (char16_t c : name.substr(FolderPrefix.size()))
    if (!isLowerHex(c)) return false;
  return true;
}

bool isPlainEntryName(std::u16string_view name) {
  if (name.empty() || name == u"." || name == u"..") return false;
  return name.find_first_of(std::u16string_view(u"\\/:\0", 4)) == std::u16string_view::npos;
}

EntryAction entryActionFor(std::u16string_view name, std::uint32_t attributes, bool ownedByAccount) {
  // Only this account and the machine's administrators can write into a launch folder; anything
  // else found there was not made by a launch and is not the launcher's to remove.
  if (!isPlainEntryName(name) || !ownedByAccount) return EntryAction::Leave;
  // Entering a junction or a directory link would delete what it points at.
  if (attributes & AttributeReparsePoint) return EntryAction::RemoveLink;
  if (attributes & AttributeDirectory) return EntryAction::EmptyThenRemove;
  return EntryAction::Delete;
}

bool maySweepFolder(std::u16string_view name, std::uint32_t attributes, bool ownedByAccount) {
  return entryActionFor(name, attributes, ownedByAccount) == EntryAction::EmptyThenRemove &&
         isLaunchFolderName(name);
}

}  // namespace pelto
