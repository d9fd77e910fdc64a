#pragma once
// The whole JVM option list in its order. The caller (the JVM start) turns the list into
// JavaVMInitArgs; everything here runs without a JVM.
//
// The assembly itself works on given inputs and a file-system seam (AssemblySystem), so it is
// the same code on the launcher's process state (buildJvmOptions, Windows) and in tests.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jvm/VmOptions.h"
#include "launcher/Config.h"

namespace pelto {

// The launcher's own system properties, as option texts in the order they are passed.
using LauncherProperties = std::vector<std::string>;

// What the launcher properties are made of.
struct LauncherState {
  std::string semaphoreName;  // InstanceSemaphoreName; empty: no property
  char flavour = '\0';        // LauncherFlavour
  bool serviceMode = false;
  std::string executablePath;  // getExecutablePath
  std::string launcherTempDir;
  std::uint32_t unextractedPosition = 0;
  std::optional<std::string> path;  // PATH; nullopt when not set
  bool manPathSet = false;          // MANPATH set: no console code page property
  unsigned consoleCodePage = 0;     // GetConsoleOutputCP
};

// The room of the library path option, and of every other property.
constexpr std::size_t LibraryPathRoom = 12000;

// The properties in their order. A property longer than its room is cut (and logged); the
// library path is left empty when PATH does not fit whole.
LauncherProperties formatLauncherProperties(const LauncherState& state);

// What the assembly reads besides the configuration.
struct AssemblyInputs {
  char flavour = '\0';
  bool serviceMode = false;
  bool noRedirect = false;
  std::string launcherTempDir;
};

// An environment variable: set (with its value), missing, or not readable for another reason.
struct EnvironmentValue {
  enum class State { Set, Missing, Failed } state = State::Missing;
  std::string value;
};

struct AssemblySystem {
  OptionSystem options;
  // The default .vmoptions file next to the executable, when one opens.
  std::function<std::optional<OptionsFile>()> openDefaultOptionsFile;
  // Narrow path rules of the launcher (resolvePath against ExecutableDirectory, pathExists,
  // fullPath keeping case).
  std::function<std::string(std::string_view)> resolve;
  std::function<bool(std::string_view)> exists;
  std::function<std::string(std::string_view)> fullPath;
  // The names a listing of a pattern returns, in its order (listMatchingEntries).
  std::function<std::vector<std::string>(std::string_view pattern)> list;
  std::function<EnvironmentValue(std::string_view name)> environment;
};

// A mandatory path entry that is not there: the LaunchError (1006 or 1008) and its detail.
struct PathEntryFault {
  ConfigId message = 0;
  std::string detail;
};

constexpr ConfigId ClassPathEntriesId = 121;
constexpr ConfigId ModulePathEntriesId = 132;

// The configured entries of 121 or 132, each followed by ";"; the first mandatory entry that is
// not found stops the walk and is returned.
[[nodiscard]] std::optional<PathEntryFault> appendPathEntries(ConfigId id, std::string& text,
                                                              const AssemblySystem& system);
// Every directory\*.extension entry, resolved, each followed by ";". False when the directory
// does not exist.
bool appendArchivesOf(std::string_view directory, std::string_view extension, std::string& text,
                      const AssemblySystem& system);

// The option names that take their value as the following option.
bool isModuleOptionWithValue(std::string_view text);
// Joins each such option with the option after it as "name=value".
void joinModuleOptions(JvmOptionList& list);

// The whole list, in its order, from the properties, the run path's arguments, the
// configuration and the inputs. A fault leaves the list half-built; the caller raises it.
[[nodiscard]] std::optional<PathEntryFault> buildJvmOptionsWith(const LauncherProperties& properties,
                                                                const std::vector<std::u16string>& args,
                                                                const AssemblyInputs& inputs,
                                                                const AssemblySystem& system,
                                                                JvmOptionList& list);

// The list's log lines: "vmoption count %d" and one "vmoption %d: %S" per option.
void logJvmOptions(const JvmOptionList& list);

#ifdef _WIN32
// This process's launcher properties.
LauncherProperties launcherProperties();
// The real files, directories and environment.
const AssemblySystem& launcherAssemblySystem();
// buildJvmOptionsWith on the process state; a missing mandatory entry raises its LaunchError.
void buildJvmOptions(const LauncherProperties& properties, const std::vector<std::u16string>& args,
                     JvmOptionList& list);
#endif

}  // namespace pelto
