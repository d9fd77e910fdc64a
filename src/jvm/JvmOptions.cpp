#include "jvm/JvmOptions.h"

#include <algorithm>
#include <array>

#include "env/TextConv.h"
#include "jvm/Expand.h"
#include "launcher/Log.h"

namespace pelto {
namespace {

constexpr ConfigId MainClassId = 122;
constexpr ConfigId ModuleModeId = 133;
constexpr ConfigId DefaultOptionsFileId = 166;
constexpr ConfigId RuntimeDirectoryId = 10003;
constexpr ConfigId MissingEntryMessage = 1006;
constexpr ConfigId MissingVariableMessage = 1008;

// A formatted option that outgrew its room is cut there.
std::string cutOption(std::string text, std::size_t room) {
  std::size_t full = text.size();
  if (cutToRoom(text, room)) logMessage(u"option cut from %d to %d bytes: %S", full, text.size(), text);
  return text;
}

std::string property(std::string_view name, std::string_view value) {
  std::string text = "-D";
  text.append(name).append("=").append(value);
  return cutOption(std::move(text), TextRoom);
}

void dropOneTrailingSemicolon(std::string& text) {
  if (!text.empty() && text.back() == ';') text.pop_back();
}

std::vector<std::string> splitAtSemicolons(std::string_view text) {
  std::vector<std::string> pieces;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find(';', pos);
    if (end == std::string_view::npos) end = text.size();
    if (end > pos) pieces.emplace_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return pieces;
}

std::string_view runtimeModuleName(char flavour) {
  return flavour == 'i' ? "com.quorvanex.runtime" : "com.pelto.runtime";
}

// The module options of the main class module/class: "--add-opens" of its package to the
// runtime module, then "--add-modules" of both modules.
void appendModuleOptions(bool moduleMode, char flavour, JvmOptionList& list) {
  std::string addModules = "--add-modules=";
  if (moduleMode) {
    std::string main = getConfigString(MainClassId, TextRoom);
    std::size_t slash = main.find('/');
    if (slash != std::string::npos && main.find('.', slash + 1) != std::string::npos) {
      std::string package = main.substr(0, main.rfind('.'));
      list.push_back(cutOption("--add-opens=" + package + "=" + std::string(runtimeModuleName(flavour)), TextRoom));
    }
    addModules += main.substr(0, slash);
    addModules += ",";
  }
  addModules += runtimeModuleName(flavour);
  list.push_back(cutOption(std::move(addModules), TextRoom));
}

}  // namespace

LauncherProperties formatLauncherProperties(const LauncherState& state) {
  LauncherProperties p;
  if (!state.semaphoreName.empty()) p.push_back(property("pelto.semaphoreName", state.semaphoreName));
  if (state.flavour == 'i') p.push_back(property("pelto.isQuorvanex", "true"));
  if (state.serviceMode) p.push_back(property("pelto.isService", "true"));
  p.push_back(property("pelto.moduleName", state.executablePath));
  p.push_back(property("sun.java.command", state.executablePath));
  p.push_back(property("pelto.tempDir", state.launcherTempDir));
  p.push_back(property("pelto.unextractedPosition", std::to_string(state.unextractedPosition)));
  std::string libraryPath = "-Djava.library.path=";
  // PATH goes in whole or not at all: a cut list could end in half a directory name.
  if (state.path && libraryPath.size() + state.path->size() < LibraryPathRoom) libraryPath += *state.path;
  p.push_back(libraryPath);
  if (!state.manPathSet) p.push_back(property("pelto.consoleCodepage", "cp" + std::to_string(state.consoleCodePage)));
  return p;
}

bool appendArchivesOf(std::string_view directory, std::string_view extension, std::string& text,
                      const AssemblySystem& system) {
  if (!system.exists(directory)) return false;
  std::string base(directory);
  if (base.empty() || base.back() != '\\') base += '\\';
  std::string pattern = base + "*";
  if (extension.empty() || extension.front() != '.') pattern += '.';
  pattern.append(extension);
  for (const std::string& name : system.list(pattern)) {
    text += system.resolve(base + name);
    text += ';';
  }
  return true;
}

std::optional<PathEntryFault> appendPathEntries(ConfigId id, std::string& text, const AssemblySystem& system) {
  std::string configured = getConfigString(id, TextRoom);
  logMessage(u"entry %S", configured);
  std::vector<std::string> entries = splitAtSemicolons(configured);
  logMessage(u"entries %d", entries.size());
  for (const std::string& entry : entries) {
    std::string name = entry.size() > 2 ? entry.substr(2) : std::string();
    expandVariablesNarrow(name, TextRoom);
    bool mandatory = entry.size() > 1 && entry[1] == '1';
    bool found = false;
    switch (entry[0]) {
      case 'A':
      case 'D': {
        // A variable may have produced a list; the entry is there when every piece is.
        std::string joined;
        found = true;
        for (const std::string& piece : splitAtSemicolons(name)) {
          std::string resolved = system.resolve(piece);
          if (!system.exists(resolved)) found = false;
          if (!joined.empty()) joined += ';';
          joined += resolved;
        }
        if (joined.empty()) {
          joined = system.resolve(name);
          found = system.exists(joined);
        }
        text += joined;
        text += ';';
        break;
      }
      case 'E': {
        EnvironmentValue env = system.environment(name);
        if (env.state == EnvironmentValue::State::Set && !env.value.empty()) {
          std::string value = env.value;
          if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
          if (!value.empty()) {
            text += value;
            if (value.back() != ';') text += ';';
          }
          found = true;
        } else if (mandatory && env.state == EnvironmentValue::State::Missing) {
          return PathEntryFault{MissingVariableMessage, name};
        }
        break;
      }
      case 'S': {
        std::string directory = system.resolve(name);
        if (id == ClassPathEntriesId) {
          bool jars = appendArchivesOf(directory, "jar", text, system);
          bool zips = appendArchivesOf(directory, "zip", text, system);
          found = jars || zips;
        } else {
          found = system.exists(directory);
          text += directory;
          text += ';';
        }
        break;
      }
      default:
        break;  // an unknown kind contributes nothing, and a mandatory one is missing
    }
    if (mandatory && !found) return PathEntryFault{MissingEntryMessage, name};
  }
  return std::nullopt;
}

bool isModuleOptionWithValue(std::string_view text) {
  static constexpr std::array<std::string_view, 7> names = {"--upgrade-module-path", "--add-modules",
                                                            "--limit-modules",       "--add-exports",
                                                            "--add-opens",           "--add-reads",
                                                            "--patch-module"};
  return std::find(names.begin(), names.end(), text) != names.end();
}

void joinModuleOptions(JvmOptionList& list) {
  for (std::size_t i = 0; i + 1 < list.size(); ++i) {
    if (!isModuleOptionWithValue(list[i])) continue;
    list[i] += "=" + list[i + 1];
    list.erase(list.begin() + static_cast<std::ptrdiff_t>(i) + 1);
  }
}

std::optional<PathEntryFault> buildJvmOptionsWith(const LauncherProperties& properties,
                                                  const std::vector<std::u16string>& args,
                                                  const AssemblyInputs& inputs, const AssemblySystem& system,
                                                  JvmOptionList& list) {
  list.assign(properties.begin(), properties.end());
  ClassPathOverrides overrides;
  OptionGathering gathering{list, overrides, system.options, {}};
  collectConfiguredOptions(args, gathering);
  if (getConfigInt(DefaultOptionsFileId) != 0) {
    std::optional<OptionsFile> file = system.openDefaultOptionsFile ? system.openDefaultOptionsFile() : std::nullopt;
    logMessage(u"default vmoptions file: %p", file ? file->handle : nullptr);
    readOptionsFile({}, file, gathering);
  }
  bool moduleMode = getConfigInt(ModuleModeId) != 0;

  std::string modulePath;
  logMessage(u"adding preconfigured modulepath");
  if (auto fault = appendPathEntries(ModulePathEntriesId, modulePath, system)) return fault;

  const std::string classPathStart = "-Djava.class.path=";
  std::string classPath = classPathStart;
  std::string& runtimeTarget = (!modulePath.empty() || moduleMode) ? modulePath : classPath;
  if (overrides.prepend) classPath += *overrides.prepend + ";";
  appendArchivesOf(inputs.launcherTempDir, "jar", runtimeTarget, system);
  appendArchivesOf(inputs.launcherTempDir, "zip", runtimeTarget, system);
  // Without extracted files there is no user folder: "\user" alone would scan the root of
  // whatever drive is current and put strangers' archives on the class path.
  if (!inputs.launcherTempDir.empty()) {
    std::string user = inputs.launcherTempDir + "\\user";
    appendArchivesOf(user, "jar", classPath, system);
    appendArchivesOf(user, "zip", classPath, system);
  }
  if (inputs.flavour == 'i') {
    runtimeTarget += system.fullPath(getConfigString(RuntimeDirectoryId, TextRoom));
    if (runtimeTarget.empty() || runtimeTarget.back() != '\\') runtimeTarget += '\\';
    runtimeTarget += ".quorvanex\\qvxruntime.jar;";
  }
  if (overrides.replace) {
    classPath += *overrides.replace;
  } else {
    logMessage(u"adding preconfigured classpath");
    if (auto fault = appendPathEntries(ClassPathEntriesId, classPath, system)) return fault;
  }
  if (overrides.append) {
    // No ";" right after "=": an empty first entry would put the working directory on the path.
    if (classPath.back() != ';' && classPath.size() > classPathStart.size()) classPath += ';';
    classPath += *overrides.append;
  }
  dropOneTrailingSemicolon(classPath);
  list.push_back(classPath);

  if (!modulePath.empty()) {
    dropOneTrailingSemicolon(modulePath);
    list.push_back("--module-path=" + modulePath);
    appendModuleOptions(moduleMode, inputs.flavour, list);
  }
  if (inputs.serviceMode && std::find(list.begin(), list.end(), "-Xrs") == list.end()) {
    logMessage(u"service: adding -Xrs");
    list.push_back("-Xrs");
  }
  if (inputs.noRedirect) list.push_back("-Dquorvanex.noRedir=true");
  joinModuleOptions(list);
  logJvmOptions(list);
  return std::nullopt;
}

void logJvmOptions(const JvmOptionList& list) {
  logMessage(u"vmoption count %d", list.size());
  for (std::size_t i = 0; i < list.size(); ++i) logMessage(u"vmoption %d: %S", i, list[i]);
}

}  // namespace pelto
