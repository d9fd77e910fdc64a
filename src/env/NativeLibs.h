#pragma once
// The configured native library directories on the DLL search path.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace pelto {

// Room of the PATH value built from the native library directories and the old PATH.
constexpr std::size_t NativePathRoom = 48000;

// Once, from launch, after extraction.
void setNativeLibraryPath();
// Adds the directory only when ConfigId 154 is on (and the system has AddDllDirectory); a
// cookie for removal, or nullptr.
void* addDllSearchDirectory(const std::string& directory);
void removeDllSearchDirectory(void* cookie);

// Each entry of a ";"-separated list resolved against the executable's directory, joined with
// ";" into out (at most room-1 characters; an entry that does not fit is left out and logged).
// The callback sees every resolved entry as it is appended.
void resolvePathList(std::string& out, std::string_view list,
                     const std::function<void(const std::string&)>& callback = {},
                     std::size_t room = NativePathRoom);

// Sets a narrow variable in both views of the environment (the system's and the C runtime's);
// an absent value removes it. false with the system error code when the system refused.
bool setEnvironmentBothViews(const char* name, const std::string* value, unsigned long* error);

}  // namespace pelto
