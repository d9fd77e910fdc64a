// The configuration keys and the checks of single values.
#include "PackKeys.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "env/TextConv.h"
#include "service/ServiceInstall.h"
#include "service/Supervision.h"

namespace pelto::pack {
namespace {

namespace id = config_id;

constexpr KeyDef Keys[] = {
    {"service", "name", Kind::ServiceName, id::ServiceName,
     "service name; also the display name unless one is given"},
    {"service", "display-name", Kind::Wide, id::ServiceDisplayName, "name shown in the Services console", 0,
     256},
    {"service", "description", Kind::Wide, id::ServiceDescription, "service description"},
    {"service", "dependencies", Kind::List, id::ServiceDependencies, "services that must run first", 0,
     TextRoom - 1, ','},
    {"service", "start", Kind::Start, id::ExecutableType, "start type of the installed service",
     id::ServiceStartType},
    {"service", "errors", Kind::Errors, id::ExecutableType, "where fatal messages go"},
    {"service", "account", Kind::Account, id::ServiceAccount,
     "account the service runs as (default \"LocalSystem\"; \"virtual\": NT SERVICE\\ and the service name)"},
    {"service", "password-env", Kind::VariableName, id::ServicePasswordEnv,
     "variable /install reads the password of a named account (packed or --account) from, else it asks"},
    {"service", "stop-timeout", Kind::Duration, id::StopTimeout,
     "longest wait for the child after a stop, then it and its processes are ended (\"0s\": no limit)"},
    {"service", "kill-on-supervisor-exit", Kind::Flag, id::KillOnSupervisorExit,
     "the child and what it started end when the service process ends"},
    {"service", "event-log", Kind::Flag, id::EventLog,
     "the service's life in the Application event log; /install registers the source"},
    {"service.recovery", "restart-after", Kind::DurationList, id::RecoveryRestartDelays,
     "restart delays after failures in turn, the last repeating", 0, TextRoom - 1, ',', 1,
     static_cast<long long>(MaxRestartDelays)},
    {"service.recovery", "reset-after", Kind::Duration, id::RecoveryResetPeriod,
     "time after which the failure count starts again", 0, TextRoom - 1, 0, 1000},
    {"service.log", "file", Kind::RelativeFolder, id::ServiceLogFile,
     "file for the child's standard output and error, below the executable's folder; {service}: the "
     "service's name"},
    {"service.log", "max-size", Kind::Size, id::ServiceLogMaxSize,
     "the file rolls to NAME.1.log ... when it passes this size"},
    {"service.log", "keep", Kind::Count, id::ServiceLogKeep, "rolled files kept", 0, TextRoom - 1, 0, 1,
     MaxKeptLogFiles},
    // The entries' ids stay within the service host's range.
    {"service.environment", "NAME", Kind::Environment, id::ServiceEnvironmentCount,
     "a variable the child gets besides the service's own; launcher variables and ${NAME} expanded", 0,
     TextRoom - 1, 0, 1,
     std::min<long long>(MaxEnvironmentEntries, id::ServiceOperationsLast - id::ServiceEnvironmentFirst + 1)},
    {"application", "flavour", Kind::Flavour, id::Flavour, "launcher flavour (default \"pelto\")"},
    {"application", "main-class", Kind::MainClass, id::MainClass,
     "the class whose main method runs, such as com.example.Main", id::MainClassInModule},
    {"application", "arguments", Kind::Arguments, id::AppArguments,
     "fixed application arguments, one per element", 0, ShortTextRoom - 1},
    {"application", "working-directory", Kind::Path, id::WorkingDirectory,
     "working directory, relative to the executable's folder"},
    {"application", "classpath", Kind::ClassPath, id::ClassPath, "class path entries"},
    {"application", "module-path", Kind::ClassPath, id::ModulePath, "module path entries"},
    {"application", "directory", Kind::RelativeFolder, id::ApplicationDirectory,
     "application folder, relative to the executable's folder"},
    {"application", "id", Kind::Text, id::ApplicationId,
     "application id: the registry value of previous installations"},
    {"application", "windowed", Kind::Windowed, id::ExecutableType,
     "a windowed application: javaw.exe preferred, errors in dialogs"},
    {"java", "min-version", Kind::Version, id::MinVersion, "lowest Java version accepted"},
    {"java", "max-version", Kind::Version, id::MaxVersion, "highest Java version accepted"},
    {"java", "search", Kind::Search, id::SearchSequence, "where to look for a Java runtime, in order"},
    {"java", "allow-prerelease", Kind::Flag, id::AllowPrerelease,
     "accept versions with \"beta\", \"ea\" or \"rc\""},
    {"java", "require-jdk", Kind::Flag, id::RequireJdk, "accept only a JDK"},
    {"java", "jvm-dll-subdirectory", Kind::FolderName, id::JvmDllSubdirectory,
     "preferred jvm.dll folder (\"server\", \"client\")", 0, 199},
    {"java", "located-runtimes-only", Kind::Flag, id::LocatedRuntimesOnly,
     "registry search: located runtimes only, no vendor keys"},
    {"jvm", "options", Kind::Arguments, id::VmOptions, "JVM options, one per element"},
    {"jvm", "pass-j-arguments", Kind::Flag, id::JArgumentsToJvm,
     "-Jxxx on the command line becomes a JVM option"},
    {"jvm", "read-default-vmoptions", Kind::Flag, id::ReadDefaultVmOptions,
     "also read the .vmoptions file beside the executable"},
    {"jvm", "native-library-directories", Kind::PathList, id::NativeLibraryDirectories,
     "folders put on the native library search path"},
    {"jvm", "add-dll-directories", Kind::Flag, id::AddDllDirectories,
     "register those folders with AddDllDirectory"},
    {"jvm", "version-options", Kind::VersionOptions, id::VersionOptionCount,
     "options for the first matching Java version"},
    {"output", "stdout", Kind::Output, id::StdoutIsPath, "file for System.out (\"$...\" passed as it is)",
     id::StdoutPath},
    {"output", "stderr", Kind::Output, id::StderrIsPath, "file for System.err (may be the same file)",
     id::StderrPath},
    {"output", "append", Kind::Flag, id::AppendOutput, "append to the files instead of starting them afresh"},
    {"instance", "single", Kind::Flag, id::SingleInstance, "at most one running instance"},
    {"instance", "activate-windows", Kind::Flag, id::ActivateWindows,
     "a second instance brings the first one's windows to the front"},
    {"instance", "global-semaphore", Kind::Flag, id::GlobalSemaphore,
     "instance semaphore in the Global\\ namespace"},
    {"splash", "enabled", Kind::Flag, id::SplashEnabled, "pass the splash texts to the Java side"},
    {"splash", "option", Kind::Flag, id::SplashOption, "the splash configuration's second boolean"},
    {"splash", "texts", Kind::SplashTexts, id::SplashText[0], "up to four items: text and two integers", 0,
     ShortTextRoom - 1},
};

constexpr std::string_view Tables[] = {"service",     "service.recovery",
                                       "service.log", "service.environment",
                                       "application", "java",
                                       "jvm",         "output",
                                       "instance",    "splash",
                                       "messages"};

constexpr MessageDef Messages[] = {
    {"caption", 1000, "Java service launcher", "(caption of the message box)"},
    {"jvm-load-failed", 1005, "The Java runtime could not be loaded.", "none"},
    {"classpath-entry-missing", 1006, "A file the application needs is missing: {0}", "entry name"},
    {"classpath-variable-missing", 1008,
     "The environment variable {0}, which the application's class path needs, is not set.", "variable name"},
    {"internal-error", 1009, "The application could not be started (internal error {0}).",
     "number of the failure"},
    {"main-class-not-found", 1010,
     "The launcher class was not found. The application's runtime library is missing or damaged.", "none"},
    {"main-method-not-found", 1011,
     "The launcher class has no main method. The application's runtime library is damaged.", "none"},
    {"no-temp-directory", 1015,
     "No usable temporary directory was found. Check the TEMP and TMP environment variables.", "none"},
    {"no-java-runtime", 1016, "", "\"64\"; the default names the configured search"},
    {"env-runtime-load-failed", 1018,
     "The Java runtime named by the environment variable {0} could not be loaded.", "variable name"},
    {"configured-runtime-load-failed", 1020, "The Java runtime in {0} could not be loaded.", "location"},
};

constexpr std::string_view StartValues[] = {"demand", "auto", "delayed-auto", "disabled"};
constexpr std::string_view ErrorValues[] = {"console", "dialog"};
constexpr std::string_view FlavourValues[] = {"pelto", "quorvanex"};

bool javaIdentifier(std::string_view s) {
  if (s.empty() || std::isdigit(static_cast<unsigned char>(s[0]))) return false;
  return std::all_of(s.begin(), s.end(), [](char ch) {
    auto c = static_cast<unsigned char>(ch);
    return std::isalnum(c) || c == '_' || c == '$' || c >= 0x80;
  });
}

// Words Java reserves; none can be a part of a class name ("com.example.Main.class" is not one).
bool javaKeyword(std::string_view s) {
  static constexpr std::string_view Keywords[] = {
      "abstract", "assert",       "boolean",  "break",     "byte",   "case",      "catch",    "char",
      "class",    "const",        "continue", "default",   "do",     "double",    "else",     "enum",
      "extends",  "final",        "finally",  "float",     "for",    "goto",      "if",       "implements",
      "import",   "instanceof",   "int",      "interface", "long",   "native",    "new",      "package",
      "private",  "protected",    "public",   "return",    "short",  "static",    "strictfp", "super",
      "switch",   "synchronized", "this",     "throw",     "throws", "transient", "try",      "void",
      "volatile", "while",        "true",     "false",     "null",   "_"};
  return std::find(std::begin(Keywords), std::end(Keywords), s) != std::end(Keywords);
}

// The first part of a dotted name that is a Java keyword, or "".
std::string_view keywordPart(std::string_view s) {
  for (;;) {
    std::size_t dot = s.find('.');
    if (javaKeyword(s.substr(0, dot))) return s.substr(0, dot);
    if (dot == std::string_view::npos) return {};
    s.remove_prefix(dot + 1);
  }
}

bool dottedIdentifiers(std::string_view s) {
  for (;;) {
    std::size_t dot = s.find('.');
    if (!javaIdentifier(s.substr(0, dot))) return false;
    if (dot == std::string_view::npos) return true;
    s.remove_prefix(dot + 1);
  }
}

std::size_t editDistance(std::string_view a, std::string_view b) {
  // Optimal string alignment: a swap of two neighbours counts as one edit.
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i)
    for (std::size_t j = 1; j <= b.size(); ++j) {
      std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

std::optional<long long> numberWithUnit(std::string_view text,
                                        std::initializer_list<std::pair<std::string_view, long long>> units) {
  long long n = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (ec != std::errc() || end == text.data() || n < 0) return std::nullopt;
  std::string_view unit(end, static_cast<std::size_t>(text.data() + text.size() - end));
  for (const auto& [name, factor] : units)
    if (unit == name) {
      if (n > INT64_MAX / factor) return std::nullopt;
      return n * factor;
    }
  return std::nullopt;
}

}  // namespace

std::span<const KeyDef> keyTable() {
  return Keys;
}
bool isRequired(const KeyDef& def) {
  return def.id == id::ServiceName || def.id == id::MainClass;
}
std::span<const MessageDef> messageTable() {
  return Messages;
}
std::span<const std::string_view> tableNames() {
  return Tables;
}

std::span<const std::string_view> enumValues(Kind kind) {
  switch (kind) {
    case Kind::Start:
      return StartValues;
    case Kind::Errors:
      return ErrorValues;
    case Kind::Flavour:
      return FlavourValues;
    default:
      return {};
  }
}

std::string suggestion(std::string_view word, const std::vector<std::string>& candidates) {
  std::size_t best = SIZE_MAX;
  const std::string* found = nullptr;
  for (const std::string& c : candidates) {
    std::size_t d = editDistance(word, c);
    if (d < best) best = d, found = &c;
  }
  if (!found || best > std::max<std::size_t>(1, std::min<std::size_t>(3, word.size() / 3)) ||
      best >= word.size())
    return "";
  return " (did you mean \"" + *found + "\"?)";
}

std::string checkMainClass(std::string_view text) {
  std::size_t slash = text.find('/');
  if (slash != std::string_view::npos && !dottedIdentifiers(text.substr(0, slash)))
    return "is not a module name followed by \"/\" and a class name";
  std::string_view cls = slash == std::string_view::npos ? text : text.substr(slash + 1);
  if (!dottedIdentifiers(cls))
    return "is not a Java class name such as com.example.Main (\"module/class\" in a module)";
  std::string_view keyword = keywordPart(cls);
  if (keyword == "class" && cls.ends_with(".class"))
    return "names a class file: write the class name without \".class\", such as " +
           std::string(cls.substr(0, cls.size() - 6));
  if (!keyword.empty())
    return "has \"" + std::string(keyword) + "\", a Java keyword, as a part: no class can be named so";
  return "";
}

std::string checkServiceName(std::string_view text) {
  if (text.empty()) return "is empty";
  if (text.size() > 256) return "is longer than the 256 characters a service name may have";
  if (text.find_first_of("/\\") != std::string_view::npos) return "may not contain \"/\" or \"\\\"";
  return "";
}

namespace {

bool isNamedAccount(std::string_view text) {
  // DOMAIN\user, .\user or user@domain: a name on both sides of the one separator.
  std::size_t at = text.find_first_of("\\@");
  return at != std::string_view::npos && at > 0 && at + 1 < text.size() &&
         text.find_first_of("\\@", at + 1) == std::string_view::npos;
}

}  // namespace

std::string checkAccount(std::string_view text) {
  // The install verbs compare the built-in names without case, as Windows does.
  for (std::string_view builtIn : {"LocalSystem", "LocalService", "NetworkService", "virtual"})
    if (text.size() == builtIn.size() &&
        std::equal(text.begin(), text.end(), builtIn.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        }))
      return "";
  if (isNamedAccount(text)) return "";
  return "is not \"LocalSystem\", \"LocalService\", \"NetworkService\", \"virtual\" or a named account "
         "\"DOMAIN\\user\", \".\\user\", \"user@domain\"";
}

const char* serviceLogFileFault(std::string_view text) {
  // Any service name stands in for {service}: none holds a slash, and the launcher checks the
  // expanded name again.
  return outputPathFault(expandServiceName(utf8ToUtf16(text), u"service"));
}

std::string checkVariableName(std::string_view text) {
  if (text.empty() || text.find_first_of(std::string_view("=\0", 2)) != std::string_view::npos)
    return "is not an environment variable name (not empty, no \"=\", no NUL)";
  return "";
}

std::string noRuntimeMessage(std::string_view search, std::string_view minVersion,
                             std::string_view maxVersion) {
  std::vector<std::string> folders, variables;
  bool installed = false;
  std::size_t p = 0;
  while (p <= search.size()) {
    std::size_t e = std::min(search.find(';', p), search.size());
    std::string_view entry = search.substr(p, e - p);
    p = e + 1;
    if (entry.empty()) continue;
    std::string text(entry.substr(1));
    switch (entry[0]) {
      case 'A':
      case 'B':
      case 'R':
        if (!text.empty()) folders.push_back("\"" + text + "\"");
        break;
      case 'E':
        if (!text.empty()) variables.push_back(text);
        break;
      case 'S':
      case 'Y':
        installed = true;
        break;
    }
  }
  variables.push_back("PELTO_JAVA_HOME");  // the launcher always tries it last
  auto join = [](const std::vector<std::string>& items, std::string_view last) {
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i)
      out += (i == 0 ? "" : i + 1 == items.size() ? std::string(last) : std::string(", ")) + items[i];
    return out;
  };
  std::string bounds;
  if (!minVersion.empty() && !maxVersion.empty())
    bounds = "Version " + std::string(minVersion) + " to " + std::string(maxVersion) + " is needed: ";
  else if (!minVersion.empty())
    bounds = "Version " + std::string(minVersion) + " or later is needed: ";
  else if (!maxVersion.empty())
    bounds = "Version " + std::string(maxVersion) + " or earlier is needed: ";
  std::vector<std::string> ways;
  if (installed) ways.push_back("install one");
  if (!folders.empty()) ways.push_back("put one in " + join(folders, " or ") + " beside the application");
  ways.push_back("set " + join(variables, " or ") + " to its folder");
  std::string how = bounds + join(ways, " or ");
  how[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(how[0])));
  return "No suitable {0}-bit Java runtime was found. " + how + ".";
}

std::optional<long long> parseDuration(std::string_view text, long long unit) {
  std::optional<long long> ms =
      numberWithUnit(text, {{"ms", 1}, {"s", 1000}, {"m", 60000}, {"h", 3600000}, {"d", 86400000}});
  if (!ms || *ms % unit != 0 || *ms / unit > INT32_MAX) return std::nullopt;  // a 32-bit entry
  return *ms / unit;
}

std::optional<long long> parseSize(std::string_view text) {
  std::optional<long long> bytes =
      numberWithUnit(text, {{"B", 1}, {"KB", 1024}, {"MB", 1024 * 1024}, {"GB", 1024 * 1024 * 1024}});
  if (bytes && *bytes > INT32_MAX) return std::nullopt;
  return bytes;
}

}  // namespace pelto::pack
