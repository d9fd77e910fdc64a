#pragma once
// Path text rules that need no file system: shared by both targets.
#include <string>
#include <string_view>

namespace pelto {

// Relative unless it starts with a drive letter and colon, or with a backslash or slash.
bool isRelativePath(std::string_view path);
bool isRelativePath(std::u16string_view path);
// At least 5 characters and ending in ".exe", ignoring case.
bool endsWithExe(std::string_view path);
// Runs of backslashes become one, except a leading "\\" (UNC) which is kept.
void collapseBackslashes(std::u16string& path);

}  // namespace pelto
