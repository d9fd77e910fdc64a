#pragma once
// The launch folders. Each launch that includes files gets a folder of its own inside one parent
// per account, "pelto-<SID>" in the temp folder, which only that account, SYSTEM and
// Administrators may write. The clean-up works through handles; what it may touch is decided
// here from names, attributes and owners, with no file system involved.
#include <cstdint>
#include <string>
#include <string_view>

namespace pelto {

constexpr std::uint32_t AttributeDirectory = 0x10;      // FILE_ATTRIBUTE_DIRECTORY
constexpr std::uint32_t AttributeReparsePoint = 0x400;  // FILE_ATTRIBUTE_REPARSE_POINT

// "pelto-" and the account's SID text.
std::u16string launchParentName(std::u16string_view sid);
// "plo" and 16 lower-case hex digits of a random number.
std::u16string launchFolderName(std::uint64_t random);
bool isLaunchFolderName(std::u16string_view name);

// A name a listing may hand on to a relative open: not empty, not "." or "..", and nothing that
// separates a path or names a drive or stream (\ / : and NUL).
bool isPlainEntryName(std::u16string_view name);

// What the clean-up does with one entry, given its name, its attributes (the listing's and the
// open handle's together) and whether this account (or SYSTEM, Administrators) owns it. A link
// is removed as the link it is, never entered.
enum class EntryAction { Leave, Delete, RemoveLink, EmptyThenRemove };
EntryAction entryActionFor(std::u16string_view name, std::uint32_t attributes, bool ownedByAccount);

// Whether an entry of the account's parent is a launch folder the sweep may take; its marker
// then decides whether that launch has ended (a live one, this launch too, holds it).
bool maySweepFolder(std::u16string_view name, std::uint32_t attributes, bool ownedByAccount);

// The account's parent of the launch folders, created when missing; "" when no candidate
// passes its checks (owned by this account, SYSTEM or Administrators, no link, nobody else may
// write).
std::u16string launchParentPath();

// Removes the folders of ended launches from the account's parent. Never fatal.
void removeEndedLaunchFolders();
// Removes this launch's own folder; the marker goes last, so a folder something still holds a
// file of stays recognisable as ended for the next launch's sweep.
void removeOwnLaunchFolder();

}  // namespace pelto
