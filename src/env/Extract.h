#pragma once
// The included files: written into the per-launch directory before the JVM starts, removed
// with it on the fatal-exit path.
#include <cstdint>
#include <string>
#include <string_view>

namespace pelto {

constexpr unsigned char IncludedFileMask = 0xA7;

// Position of the executable file just after the last extracted record; 0 when none.
extern std::uint32_t UnextractedPosition;

// 0 on success; non-zero when a record could not be copied.
int extractIncludedFiles();
// The same from a given file whose included-files section starts at IncludedFilesOffset.
int extractIncludedFilesFrom(const std::u16string& sourceFile);
// Deletes what is in a directory; with recurse, also the files of its direct subdirectories.
// Links (junctions, symbolic links) are removed as entries and never followed.
void emptyDirectory(std::string_view directory, bool recurse);

// An included file name that stays inside the directory: relative, no drive, no "..".
bool isSafeIncludedName(std::string_view name);

}  // namespace pelto
