#pragma once
// Where the launcher is and where it may write. Narrow texts are in the file functions' code
// page, wide ones UTF-16. Values are computed once and cached.
#include <cstdint>
#include <string>
#include <string_view>

namespace pelto {

// Narrow path of this launch's own temporary directory; empty until created.
extern std::string LauncherTempDir;

std::string getExecutablePath();
std::u16string getExecutablePathWide();
// The executable's directory with its trailing backslash.
std::string executableDirectory();
std::u16string executableDirectoryWide(bool useNarrowForm);

// lastWrite (optional) receives the 8-byte FILETIME of the entry found.
bool pathExists(std::string_view path, std::uint64_t* lastWrite = nullptr);
bool pathExists(std::u16string_view path, std::uint64_t* lastWrite = nullptr);

void normalizeNarrow(std::string& path);
void toLowerPath(std::string& path);
void toLowerPath(std::u16string& path);

// Relative paths are resolved against the directory of baseFile, or the executable's directory.
std::string resolvePath(std::string_view path, std::string_view baseFile = {});
std::u16string resolvePath(std::u16string_view path, std::u16string_view baseFile, bool useNarrowForm);
std::string fullPath(std::string_view path, bool keepCase);
std::u16string fullPath(std::u16string_view path, bool keepCase, bool useNarrowForm);

bool probeTempDirectory(std::string_view candidate);
bool testTempCandidate(std::string& candidate, bool create, bool rejectUnrepresentable);
bool testTempCandidate(std::u16string& candidate, bool create, bool rejectUnrepresentable);
std::string findTempDirectory();
std::u16string findTempDirectory(bool fatal);
std::string getTempDirectory();
std::u16string getTempDirectory(bool fatal);
std::string makeTempFileName();
void createLauncherTempDir();

}  // namespace pelto
