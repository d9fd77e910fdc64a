// The runtime search: the places in their fixed order, each candidate loaded once accepted.
#include <windows.h>

#include <cstdio>
#include <memory>

#include "env/Handles.h"
#include "env/Paths.h"
#include "env/TextConv.h"
#include "env/Unpack.h"
#include "jre/LoadJvm.h"
#include "jre/Probe.h"
#include "jre/Registry.h"
#include "jre/Search.h"
#include "jvm/Expand.h"
#include "launcher/Config.h"
#include "launcher/Limits.h"
#include "launcher/Log.h"

namespace pelto {
namespace {

constexpr const char* InstallationsKey = "SOFTWARE\\tarnwick-labs\\quorvanex\\installations";

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

bool scanInstallations(HKEY root, REGSAM view, std::string& candidate, std::string& version,
                       const VersionBounds& bounds) {
  std::string id = getConfigString(160, TextRoom);
  logMessage(u"checking app id %S (%d, %p)", id, static_cast<int>(view), static_cast<void*>(root));
  if (id.empty()) return false;

  UniqueHKey key;
  LONG rc = RegOpenKeyExA(root, InstallationsKey, 0, KEY_READ | view, key.put());
  if (rc != ERROR_SUCCESS) {
    logMessage(u"could not open installation node %d", static_cast<int>(rc));
    return false;
  }
  std::string data(TextRoom, '\0');
  DWORD size = static_cast<DWORD>(TextRoom);
  DWORD type = 0;
  rc = RegQueryValueExA(key.get(), id.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
  if (rc != ERROR_SUCCESS || size == 0 || (type != REG_SZ && type != REG_EXPAND_SZ)) {
    logMessage(u"could not query value node %d", 0);
    return false;
  }
  // The stored text may or may not carry its NUL.
  data.resize(size);
  if (std::size_t nul = data.find('\0'); nul != std::string::npos) data.resize(nul);
  logMessage(u"found installations: %S", data);

  for (const std::string& dir : splitSemicolonList(data)) {
    std::string home = dir + "\\jre";
    if (!javaExeForHome(candidate, home)) {
      logMessage(u"did not find java in %S", home);
      continue;
    }
    if (checkJavaExe(candidate, version, bounds, false)) return true;
    logMessage(u"java version did not match in %S", home);
  }
  return false;
}

// An accepted candidate: the kind (and the location, when given) set, its jvm.dll loaded.
void* acceptCandidate(const std::string& candidate, JvmSourceKind& kind, JvmSourceKind newKind,
                      std::string& location, const std::string* newLocation) {
  if (newLocation) location = *newLocation;
  kind = newKind;
  return loadJvmFromJavaExe(candidate);
}

}  // namespace

bool readLocationFile(const char16_t* suffix, std::string& line) {
  std::u16string path = fullPath(getConfigStringW(10003, TextRoom), true, false);
  while (!path.empty() && path.back() == u'\\') path.pop_back();
  path += suffix;
  std::unique_ptr<std::FILE, FileCloser> file(_wfopen(wptr(path), L"rt"));
  if (!file) return false;
  std::string buf(TextRoom, '\0');
  if (std::fgets(buf.data(), static_cast<int>(TextRoom), file.get()) == nullptr) return false;
  buf.resize(std::char_traits<char>::length(buf.c_str()));
  bool wholeLine = !buf.empty() && (buf.back() == '\n' || std::feof(file.get()));
  if (!wholeLine) {
    int c = std::fgetc(file.get());
    wholeLine = c == EOF || c == '\n';
  }
  // A directory cut at the room would name another folder.
  if (!wholeLine) {
    logMessage(u"first line of %s longer than %d characters", path, static_cast<int>(TextRoom - 1));
    return false;
  }
  while (!buf.empty() && (buf.back() == '\r' || buf.back() == '\n')) buf.pop_back();
  if (buf.empty()) return false;
  line = std::move(buf);
  return true;
}

bool checkRuntimeDirectory(std::string& candidate, std::string& version, const std::string& directory,
                           const VersionBounds& bounds, bool force) {
  std::string home = fullPath(directory, false);
  unpackRuntimeJars(home);
  bool accepted = javaExeForHome(candidate, home) && checkJavaExe(candidate, version, bounds, true);
  return accepted || force;
}

bool checkEnvironmentHome(std::string& candidate, std::string& version, const char* variable,
                          const VersionBounds& bounds) {
  std::string value(TextRoom, '\0');
  DWORD n = GetEnvironmentVariableA(variable, value.data(), static_cast<DWORD>(TextRoom));
  if (n == 0 || n >= TextRoom) return false;  // unset, empty, or too long to read: unset
  value.resize(n);
  for (char& c : value)
    if (c == '/') c = '\\';
  return javaExeForHome(candidate, value) && checkJavaExe(candidate, version, bounds, false);
}

bool checkSystemPath(std::string& candidate, std::string& version, const VersionBounds& bounds) {
  std::string found(TextRoom, '\0');
  DWORD n = SearchPathA(nullptr, "java.exe", nullptr, static_cast<DWORD>(TextRoom), found.data(), nullptr);
  if (n == 0 || n >= TextRoom) return false;
  found.resize(n);
  candidate = std::move(found);
  return checkJavaExe(candidate, version, bounds, false);
}

bool checkPreviousInstallations(void* root, std::string& candidate, std::string& version,
                                const VersionBounds& bounds) {
  auto key = static_cast<HKEY>(root);
  return scanInstallations(key, 0, candidate, version, bounds) ||
         scanInstallations(key, KEY_WOW64_64KEY, candidate, version, bounds);
}

void* searchForJvm(std::string& candidate, std::string& version, JvmSourceKind& kind, std::string& location) {
  logMessage(u"Searching for a JVM");
  kind = 0;
  std::string sequence = getConfigString(128, TextRoom);
  std::string lower = getConfigString(126, TextRoom);
  std::string upper = getConfigString(127, TextRoom);
  logMessage(u"MinVersion: %S, MaxVersion: %S", lower, upper);
  VersionBounds bounds{parseJavaVersion(lower), parseJavaVersion(upper)};

  std::string line;
  if (readLocationFile(u"\\.quorvanex\\pref_jre.cfg", line)) {
    logMessage(u"Has preferred location %S", line);
    if (checkRuntimeDirectory(candidate, version, line, bounds, false)) {
      logMessage(u"Using preferred location");
      if (void* m = acceptCandidate(candidate, kind, 2, location, &line)) return m;
    }
  }

  std::vector<JvmSearchEntry> entries = splitSearchSequence(sequence);
  for (const JvmSearchEntry& entry : entries) {
    std::string text = entry.text;
    cutToRoom(text, TextRoom);
    expandVariablesNarrow(text, TextRoom);
    logMessage(u"Testing location %S (type %c)", text, entry.letter);
    bool accepted = false;
    JvmSourceKind entryKind = 0;
    switch (entry.letter) {
      case 'A':
      case 'B':
      case 'R':
        accepted = checkRuntimeDirectory(candidate, version, text, bounds, false);
        entryKind = 2;
        break;
      case 'E':
        accepted = checkEnvironmentHome(candidate, version, text.c_str(), bounds);
        entryKind = 3;
        break;
      case 'S':
        accepted = checkSystemPath(candidate, version, bounds);
        entryKind = 1;
        break;
      case 'Y':
        accepted = checkRegisteredRuntimes(candidate, version, bounds);
        entryKind = 4;
        break;
      default:
        logMessage(u"Unknown location type %c skipped", entry.letter);
        break;
    }
    if (!accepted) continue;
    if (void* m =
            acceptCandidate(candidate, kind, entryKind, location, entry.letter == 'Y' ? nullptr : &text))
      return m;
  }

  if (readLocationFile(u"\\.quorvanex\\inst_jre.cfg", line)) {
    logMessage(u"Has installer location %S", line);
    if (checkRuntimeDirectory(candidate, version, line, bounds, false)) {
      logMessage(u"Using installer location");
      if (void* m = acceptCandidate(candidate, kind, 2, location, &line)) return m;
    }
  }

  // Relative runtime directories are used whatever their version, once everything above failed.
  for (const JvmSearchEntry& entry : entries) {
    if (!takesPartInFallback(entry)) continue;
    logMessage(u"Testing relative location %S", entry.text);
    checkRuntimeDirectory(candidate, version, entry.text, bounds, true);
    if (!pathExists(candidate)) continue;
    logMessage(u"%S exists", candidate);
    if (void* m = acceptCandidate(candidate, kind, 2, location, &entry.text)) return m;
  }

  if (checkPreviousInstallations(HKEY_CURRENT_USER, candidate, version, bounds)) {
    logMessage(u"found JRE from previous installation (user) %S", candidate);
    if (void* m = acceptCandidate(candidate, kind, 4, location, nullptr)) return m;
  }
  if (checkPreviousInstallations(HKEY_LOCAL_MACHINE, candidate, version, bounds)) {
    logMessage(u"found JRE from previous installation (machine) %S", candidate);
    if (void* m = acceptCandidate(candidate, kind, 4, location, nullptr)) return m;
  }
  logMessage(u"Search sequence finished");

  for (const char* variable : {"PELTO_JAVA_HOME", "QUORVANEX_JAVA_HOME"}) {
    if (!checkEnvironmentHome(candidate, version, variable, bounds)) continue;
    std::string name = variable;
    if (void* m = acceptCandidate(candidate, kind, 3, location, &name)) return m;
  }
  return nullptr;
}

}  // namespace pelto
