#pragma once
// The one table of configuration keys: parsing, validation, dump, the JSON Schema and the
// README's key reference are all driven by it.
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/ConfigIds.h"
#include "launcher/Limits.h"

namespace pelto::pack {

using config_id::Id;

enum class Kind {
  Text,            // a text of the string table (Windows-1252)
  ServiceName,     // a name the Service Control Manager accepts
  Wide,            // a text of the wide table (UTF-16)
  Flag,            // true / false, stored "1" / "0"
  Flavour,         // "pelto" / "quorvanex", stored "e" / "i"
  Version,         // a Java version bound such as "11" or "1.8.0_45"
  MainClass,       // a Java binary name, "module/class" for a class in a named module
  Arguments,       // words split like a command line: an array, or one string as it stands
  List,            // an array of texts joined by the separator
  Path,            // a path; either slash, stored with backslashes
  RelativeFolder,  // a folder relative to the executable's folder
  FolderName,      // one folder name, no slashes
  PathList,        // an array of paths joined by ";"
  ClassPath,       // class path or module path entries
  Search,          // the Java runtime search sequence
  Start,           // the service start type (with Errors and Windowed one ExecutableType)
  Errors,          // where fatal messages go
  Windowed,        // a windowed application
  Output,          // a file for a standard stream: the flag id and the path id
  SplashTexts,     // up to four splash text items
  VersionOptions,  // version-specific JVM options
  Duration,        // "30s", "5m", "1d": stored as milliseconds (unit 1) or seconds (unit 1000)
  Size,            // "10MB": stored as bytes
  DurationList,    // an array of durations joined by the separator, at most max of them
  Count,           // an integer from 0 to max
  Account,         // the account a service runs as
  VariableName,    // the name of an environment variable
  Environment,     // a table of NAME = "value": a count, then one wide "NAME=value" each
};

// The runtime search written when [java] has none: a "jre" folder beside the executable,
// JAVA_HOME, the path, then the registry (PELTO_JAVA_HOME is always tried last).
constexpr std::string_view DefaultSearch = "Ajre;EJAVA_HOME;S;Y";

struct KeyDef {
  std::string_view table;
  std::string_view key;
  Kind kind;
  Id id;
  std::string_view help;
  Id id2 = 0;                       // the second id of a key that writes two
  std::size_t room = TextRoom - 1;  // the longest text the launcher reads whole
  char separator = 0;               // List
  long long unit = 1;               // Duration: milliseconds per stored unit
  long long max = 0;                // DurationList, Environment: items; Count: the value
};

struct MessageDef {
  std::string_view key;
  Id id;
  std::string_view english;
  std::string_view detail;  // what {0} stands for
};

std::span<const KeyDef> keyTable();
// Keys without which the executable cannot do its job (a raw entry of the same id counts).
bool isRequired(const KeyDef& def);
std::span<const MessageDef> messageTable();
std::span<const std::string_view> tableNames();  // the key tables in dump order
std::span<const std::string_view> enumValues(Kind kind);

// " (did you mean "x"?)" when one candidate is close to word, else "".
std::string suggestion(std::string_view word, const std::vector<std::string>& candidates);

// Checks of single texts; each returns an empty string or what is wrong.
std::string checkMainClass(std::string_view text);
std::string checkServiceName(std::string_view text);
std::string checkAccount(std::string_view text);
std::string checkVariableName(std::string_view text);
// Why a [service.log] file could leave the executable's folder, or nullptr.
const char* serviceLogFileFault(std::string_view text);

// The English text of "no Java runtime", naming what the configured search looks at.
std::string noRuntimeMessage(std::string_view searchSequence, std::string_view minVersion,
                             std::string_view maxVersion);

// "30s" -> 30000 with unit 1; nullopt when the text is no duration.
std::optional<long long> parseDuration(std::string_view text, long long unit);
std::optional<long long> parseSize(std::string_view text);

}  // namespace pelto::pack
