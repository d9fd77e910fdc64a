#pragma once
// Where the launcher is and where it may write. Narrow texts are in the file functions' code
// page, wide ones UTF-16. The executable path, its directory and the temp directory are
// computed once and cached. Results are cut to TextRoom-1 characters (a cut is logged).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "env/PathText.h"

namespace pelto {

// Path of this launch's own temporary directory; empty until created. The narrow form is what
// the JVM options and variables hand on; the files themselves are made through the wide one.
extern std::string LauncherTempDir;
extern std::u16string LauncherTempDirWide;

// A narrow path the ANSI file functions can open (falling back to 8.3 forms when the long
// path does not survive the code page); "" if nothing could be determined.
std::string getExecutablePath();
// The long wide path, backslashes collapsed.
std::u16string getExecutablePathWide();
// ExecutableDirectory, with its trailing backslash: narrow; the wide copy of the narrow form
// (useNarrowForm) or the wide long form.
std::string executableDirectory();
std::u16string executableDirectoryWide(bool useNarrowForm);

// Drive roots exist without disk access; otherwise FindFirstFile. lastWrite (optional)
// receives the 8-byte FILETIME of the entry found.
bool pathExists(std::string_view path, std::uint64_t* lastWrite = nullptr);
bool pathExists(std::u16string_view path, std::uint64_t* lastWrite = nullptr);

// The entries a wildcard pattern matches, listed through the wide functions: a name is handed
// on in the narrow code page only when it converts exactly. A narrow listing would map a name
// such as fullwidth "．．＼x" best-fit onto "..\x", a path outside the folder listed.
struct ListedEntry {
  std::string name;
  std::uint32_t attributes;
};
std::vector<ListedEntry> listMatchingEntries(std::string_view pattern);

// A relative path is put behind the directory of baseFile, or ExecutableDirectory without
// one; then normalised. Absolute paths come back normalised only.
std::string resolvePath(std::string_view path, std::string_view baseFile = {});
std::u16string resolvePath(std::u16string_view path, std::u16string_view baseFile, bool useNarrowForm);
// resolvePath, then GetFullPathName, then lower-cased unless keepCase.
std::string fullPath(std::string_view path, bool keepCase);
std::u16string fullPath(std::u16string_view path, bool keepCase, bool useNarrowForm);

// Creates and removes a uniquely named directory in the candidate.
bool probeTempDirectory(std::string_view candidate);
bool probeTempDirectory(std::u16string_view candidate);
// create: make the candidate's last level first. rejectUnrepresentable: refuse a directory
// whose long form does not survive the narrow code page.
bool testTempCandidate(std::string_view candidate, bool create, bool rejectUnrepresentable);
bool testTempCandidate(std::u16string_view candidate, bool create, bool rejectUnrepresentable);

// One step of the temp directory search; a step whose source is unavailable is left out.
template <class S>
struct TempCandidate {
  S path;
  bool create;
  bool rejectUnrepresentable;
};
std::vector<TempCandidate<std::string>> tempCandidates();
std::vector<TempCandidate<std::u16string>> tempCandidatesWide();
// The first candidate that passes its test. None: the narrow form raises LaunchError 1015; the
// wide form returns "" and raises it only when fatal.
std::string findTempDirectoryAmong(const std::vector<TempCandidate<std::string>>& candidates);
std::u16string findTempDirectoryAmong(const std::vector<TempCandidate<std::u16string>>& candidates,
                                      bool fatal);

// findTempDirectoryAmong the fixed candidate list.
std::string findTempDirectory();
std::u16string findTempDirectory(bool fatal);
// findTempDirectory, remembered after the first non-empty result.
std::string getTempDirectory();
std::u16string getTempDirectory(bool fatal);
// 64 bits of the system's random source; false when it fails.
bool systemRandom(std::uint64_t& value);
// Sets LauncherTempDir to a new folder of a random name in the account's own parent in the temp
// folder (see LaunchFolders.h) and holds its marker. LaunchError 1009 "7" when no such parent
// passes its checks or 10 names are taken.
void createLauncherTempDir();

}  // namespace pelto
