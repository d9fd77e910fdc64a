#pragma once
// Path text rules that need no file system: shared by both targets.
#include <string>
#include <string_view>

namespace pelto {

// Absolute only as "X:\..." or "\\..." (an opening double quote is looked through); so C:/x,
// C:x and \x count as relative, and so does anything shorter than 3 characters.
bool isRelativePath(std::string_view path);
bool isRelativePath(std::u16string_view path);
// At least 5 characters and ending in ".exe", ignoring case.
bool endsWithExe(std::string_view path);
// From the third character on, a backslash right after a kept backslash is dropped, so a
// leading "\\" (UNC) survives.
// Wide only: in a double-byte code page a trail byte may look like a backslash.
void collapseBackslashes(std::u16string& path);
// "X:\", "X:\." and "X:\.\." name a drive root, which always exists.
bool isDriveRoot(std::string_view path);
bool isDriveRoot(std::u16string_view path);

// Collapses backslashes through the wide form; the input is kept when the way back loses text.
void normalizeNarrow(std::string& path);
// Lower-cases (the runtime's towlower) through the wide form; kept when the way back loses text.
void toLowerPath(std::string& path);
void toLowerPath(std::u16string& path);

// The directory part of a full path: everything up to and including its last "\" or "/"
// ("" when there is none).
std::string directoryPart(std::string_view fullPath);
std::u16string directoryPart(std::u16string_view fullPath);

// The short path out of what "for %I in (...) do @echo %~sI" printed: its first line, when the
// interpreter succeeded and printed at least 6 bytes ending a line; "" otherwise.
std::string shortPathFromShellOutput(std::string_view output, unsigned long exitCode);

}  // namespace pelto
