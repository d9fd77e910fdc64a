// The launcher's process state, files, directories and environment for the option assembly.
#include <windows.h>

#include "env/Extract.h"
#include "env/Handles.h"
#include "env/Paths.h"
#include "instance/Instance.h"
#include "jvm/JvmOptions.h"
#include "launcher/CommandLine.h"
#include "launcher/Fatal.h"
#include "launcher/Log.h"
#include "launcher/StartUp.h"

namespace pelto {
namespace {

// The variable read into a buffer of room bytes; a value that does not fit counts as failed.
EnvironmentValue readEnvironment(std::string_view name, std::size_t room) {
  std::string key(name);
  std::string buffer(room, '\0');
  SetLastError(0);
  DWORD n = GetEnvironmentVariableA(key.c_str(), buffer.data(), static_cast<DWORD>(room));
  EnvironmentValue v;
  if (n == 0) {
    DWORD error = GetLastError();
    v.state = error == ERROR_ENVVAR_NOT_FOUND ? EnvironmentValue::State::Missing
              : error == 0                    ? EnvironmentValue::State::Set
                                              : EnvironmentValue::State::Failed;
    return v;
  }
  if (n >= room) {
    logMessage(u"environment variable %S longer than %d bytes", name, room - 1);
    v.state = EnvironmentValue::State::Failed;
    return v;
  }
  v.state = EnvironmentValue::State::Set;
  v.value.assign(buffer.data(), n);
  return v;
}

std::vector<std::string> listDirectory(std::string_view pattern) {
  std::vector<std::string> names;
  for (ListedEntry& entry : listMatchingEntries(pattern)) names.push_back(std::move(entry.name));
  return names;
}

}  // namespace

LauncherProperties launcherProperties() {
  LauncherState state;
  state.semaphoreName = InstanceSemaphoreName;
  state.flavour = LauncherFlavour;
  state.serviceMode = ServiceMode;
  state.executablePath = getExecutablePath();
  state.launcherTempDir = LauncherTempDir;
  state.unextractedPosition = UnextractedPosition;
  // The option's own 20 bytes and the NUL share the room with the value.
  EnvironmentValue path = readEnvironment("PATH", LibraryPathRoom - 20);
  if (path.state == EnvironmentValue::State::Set) state.path = path.value;
  state.manPathSet = readEnvironment("MANPATH", TextRoom).state != EnvironmentValue::State::Missing;
  state.consoleCodePage = GetConsoleOutputCP();
  return formatLauncherProperties(state);
}

const AssemblySystem& launcherAssemblySystem() {
  static const AssemblySystem system{
      launcherOptionSystem(),
      [] { return openDefaultOptionsFile(); },
      [](std::string_view p) { return resolvePath(p); },
      [](std::string_view p) { return pathExists(p); },
      [](std::string_view p) { return fullPath(p, true); },
      listDirectory,
      [](std::string_view name) { return readEnvironment(name, TextRoom); },
  };
  return system;
}

void buildJvmOptions(const LauncherProperties& properties, const std::vector<std::u16string>& args,
                     JvmOptionList& list) {
  AssemblyInputs inputs{LauncherFlavour, ServiceMode, NoRedirect, LauncherTempDir};
  if (auto fault = buildJvmOptionsWith(properties, args, inputs, launcherAssemblySystem(), list))
    raiseLaunchError(fault->message, std::string_view(fault->detail));
}

}  // namespace pelto
