#pragma once
// JVM options that do not come from the launcher itself: configured, version-specific, "-J"
// words, locale options and the .vmoptions files.
//
// File access and the chosen runtime's major version go through OptionSystem, so the whole
// gathering runs on given inputs: the launcher's own is launcherOptionSystem() (Windows), tests
// and the fuzzer serve files from memory.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelto {

using JvmOptionList = std::vector<std::string>;  // narrow, in order

// Class path directives of the options files; absent until a directive sets one.
struct ClassPathOverrides {
  std::optional<std::string> replace;  // -classpath
  std::optional<std::string> append;   // -classpath/a
  std::optional<std::string> prepend;  // -classpath/p
};

// An options file opened for reading and read whole (its handle is closed again at once).
struct OptionsFile {
  const void* handle = nullptr;  // for the log lines only
  std::string bytes;
};

struct OptionSystem {
  // The file at a resolved path; nullopt when it cannot be opened.
  std::function<std::optional<OptionsFile>(std::u16string_view path)> open;
  // An include path resolved against the directory of baseFile, or ExecutableDirectory
  // without one (the wide full Unicode form).
  std::function<std::u16string(std::u16string_view path, std::u16string_view baseFile)> resolve;
  // majorJavaVersion of a version text.
  std::function<int(std::string_view versionText)> majorVersion;
};

// Nested includes deeper than this are skipped with a log line, as is a file that is already
// being read further up the chain (it would include itself for ever).
constexpr std::size_t MaxIncludeDepth = 32;
// One read of a line takes at most this many bytes less one; a longer line becomes several.
constexpr std::size_t OptionsLineBuffer = 30000;

// One gathering of options: where they go and the files being read right now.
struct OptionGathering {
  JvmOptionList& list;
  ClassPathOverrides& overrides;
  const OptionSystem& system;
  std::vector<std::u16string> openFiles;  // the include chain, outermost first
};

// The configured options (123), the first matching version-specific entry, "-J" words (when
// 125 is on) and the locale options, in this order.
void collectConfiguredOptions(const std::vector<std::u16string>& args, OptionGathering& gathering);
// "-include-options" joined with the word after it; every word through applyOptionLine.
void applyOptionWords(const std::vector<std::u16string>& words, OptionGathering& gathering);
// The include and class path directives; anything else is appended as narrow text.
void applyOptionLine(std::u16string_view base, std::u16string_view text, OptionGathering& gathering);
// Every line of an opened file, with path as base for relative includes; nothing without a file.
void readOptionsFile(std::u16string_view path, const std::optional<OptionsFile>& file,
                     OptionGathering& gathering);

// The lines of an options file as the line rules leave them: trimmed, without empty lines and
// comments, a line longer than OptionsLineBuffer-1 bytes cut into pieces.
std::vector<std::string> optionsFileLines(std::string_view bytes);

// The two default file names of a path: without its last four characters, and whole, each
// followed by ".vmoptions".
std::vector<std::u16string> defaultOptionsFileNames(std::u16string_view executablePath);

// A version condition: "*pattern" (matchWildcard on the whole version text) or "MIN-MAX"
// (inclusive, on the major version); anything else logs "ERROR: expected dash" and is false.
bool versionConditionHolds(std::string_view condition, std::string_view versionText,
                           const std::function<int(std::string_view)>& majorVersion);

// The whole text matches the whole pattern: "?" one character, "*" any run, case-sensitive.
bool matchWildcard(std::string_view pattern, std::string_view text);

#ifdef _WIN32
// Files through CreateFileW (shared for reading and writing), includes through resolvePath.
const OptionSystem& launcherOptionSystem();
// The first of the default options files next to the executable that opens.
std::optional<OptionsFile> openDefaultOptionsFile();
#endif

}  // namespace pelto
