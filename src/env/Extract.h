#pragma once
// The included files: written into the per-launch directory before the JVM starts, removed
// with it on the fatal-exit path (LaunchFolders.h).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "env/LaunchFolders.h"
#include "launcher/ConfigBlock.h"  // IncludedFileMask, IncludedFileCountId, IncludedFileNamesId

namespace pelto {

// Position of the executable file just after the last extracted record; 0 when none.
extern std::uint32_t UnextractedPosition;

// Bytes copied per read and write of a record.
constexpr std::size_t IncludedFileChunk = 6000;

// 0 on success; non-zero when a record could not be copied (1 a read, 2 a write). Creates
// LauncherTempDir when the configuration lists files; an unsafe name, a target that cannot be
// created and a short length field end the process on the fatal path.
int extractIncludedFiles();
// The same from a given file whose included-files section starts at IncludedFilesOffset.
int extractIncludedFilesFrom(const std::u16string& sourceFile);
// The names of the list in their order; runs of ";" count as one separator.
std::vector<std::string> splitIncludedNames(std::string_view list);
// An included file name that stays inside the directory and that Windows creates as written:
// relative, no drive or stream colon, no "." or ".." component (nor one of dots and spaces
// only, which Windows trims to those), no empty component, no device name such as "nul" or
// "com1.txt", no component ending in a dot or a space, none of <>"|?*; or control characters,
// and not the launch marker. "/" separates as "\" does. The launcher, `pelto-pack build` and
// `pelto-pack dump --extract` all apply this one rule.
bool isSafeIncludedName(std::string_view name);

// Two included names that Windows would make one file, or one the folder of the other: equal
// when compared without case (also beyond ASCII), or one a folder prefix of the other.
bool includedNamesClash(std::u16string_view a, std::u16string_view b);

// The file each launch keeps open in its folder for its whole life (without delete sharing):
// a folder whose marker can be opened for deletion belongs to a launch that has ended. It is
// the last thing a launch removes, so a folder that keeps files still in use stays recognisable.
constexpr std::string_view LaunchMarkerName = "pelto.lock";

}  // namespace pelto
