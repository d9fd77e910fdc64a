#pragma once
// The configured native library directories on the DLL search path.
#include <string>

namespace pelto {

// Once, from launch, after extraction.
void setNativeLibraryPath();
// Adds the directory only when ConfigId 154 is on; a cookie for removal, or nullptr.
void* addDllSearchDirectory(const std::string& directory);
void removeDllSearchDirectory(void* cookie);

}  // namespace pelto
