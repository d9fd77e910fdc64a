// Runtimes registered in the registry: the Java vendor keys and the located runtimes.
#include <windows.h>

#include <cstring>

#include "env/Handles.h"
#include "jre/Probe.h"
#include "jre/Registry.h"
#include "launcher/Config.h"
#include "launcher/Limits.h"
#include "launcher/Log.h"

namespace pelto {
namespace {

constexpr const char* LocatedRuntimesKey = "SOFTWARE\\tarnwick-labs\\pelto\\locatedjvms\\";
constexpr std::size_t CurrentVersionRoom = 100;

// A string value read into room bytes; the text ends at its first NUL (a value stored
// without one is terminated here). A value of another type is no text: its bytes read as
// one would name a home or a version by accident.
bool readString(HKEY key, const char* name, std::size_t room, std::string& text) {
  std::string data(room, '\0');
  DWORD size = static_cast<DWORD>(room), type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
          ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return false;
  data.resize(size);
  std::size_t nul = data.find('\0');
  text = nul == std::string::npos ? data : data.substr(0, nul);
  return true;
}

bool readString(HKEY root, const std::string& path, const char* name, std::size_t room, std::string& text) {
  UniqueHKey key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
  return readString(key.get(), name, room, text);
}

// JavaHome of a version key, turned into its executable and checked.
bool checkHomeOf(HKEY key, std::string& executable, std::string& version, const VersionBounds& bounds) {
  std::string home;
  if (!readString(key, "JavaHome", TextRoom, home)) return false;
  if (!javaExeForHome(executable, home)) return false;
  return checkJavaExe(executable, version, bounds, false);
}

std::string currentVersionIn(const std::string& key, const VersionBounds& bounds) {
  std::string v;
  if (!readString(HKEY_LOCAL_MACHINE, key, "CurrentVersion", CurrentVersionRoom, v) ||
      !isVersionInRangeLenient(v, bounds))
    v.clear();
  return v;
}

}  // namespace

std::vector<std::string> subkeyNames(void* key) {
  std::vector<std::string> names;
  std::string name(TextRoom, '\0');
  // Bounded: a key that answers neither a name nor the end for ever cannot hold the search.
  for (DWORD index = 0; index < MaxSubkeys; ++index) {
    DWORD size = static_cast<DWORD>(TextRoom);
    LONG rc =
        RegEnumKeyExA(static_cast<HKEY>(key), index, name.data(), &size, nullptr, nullptr, nullptr, nullptr);
    // A name longer than the room is passed over; any other error (the end, a key deleted by
    // an uninstaller meanwhile) ends the walk.
    if (rc == ERROR_MORE_DATA) continue;
    if (rc != ERROR_SUCCESS) break;
    names.emplace_back(name.data(), size);
  }
  return names;
}

bool checkCurrentVersionKeys(std::string& executable, std::string& version, const VersionBounds& bounds,
                             const std::string& developmentKitKey, const std::string& runtimeKey) {
  std::string kit = currentVersionIn(developmentKitKey, bounds);
  std::string runtime = getConfigInt(131) != 0 ? std::string() : currentVersionIn(runtimeKey, bounds);
  std::string versionKey =
      isNewerVersion(kit, runtime) ? developmentKitKey + "\\" + kit : runtimeKey + "\\" + runtime;
  UniqueHKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, versionKey.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
    return false;
  return checkHomeOf(key.get(), executable, version, bounds);
}

bool checkVersionSubkeys(std::string& executable, std::string& version, const VersionBounds& bounds,
                         const std::string& vendorKey) {
  UniqueHKey vendor;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, vendorKey.c_str(), 0, KEY_READ, vendor.put()) != ERROR_SUCCESS)
    return false;
  for (const std::string& name : versionSubkeyTrialOrder(subkeyNames(vendor.get()), bounds)) {
    UniqueHKey key;
    if (RegOpenKeyExA(vendor.get(), name.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) continue;
    if (checkHomeOf(key.get(), executable, version, bounds)) return true;
  }
  return false;
}

bool checkVendorRegistry(std::string& executable, std::string& version, const VersionBounds& bounds) {
  bool jdkOnly = getConfigInt(131) != 0;
  const std::string jdk = "SOFTWARE\\JavaSoft\\JDK", jre = "SOFTWARE\\JavaSoft\\JRE";
  const std::string kit = "SOFTWARE\\JavaSoft\\Java Development Kit",
                    runtime = "SOFTWARE\\JavaSoft\\Java Runtime Environment";
  return checkCurrentVersionKeys(executable, version, bounds, jdk, jre) ||
         (!jdkOnly && checkVersionSubkeys(executable, version, bounds, jre)) ||
         checkVersionSubkeys(executable, version, bounds, jdk) ||
         checkCurrentVersionKeys(executable, version, bounds, kit, runtime) ||
         (!jdkOnly && checkVersionSubkeys(executable, version, bounds, runtime)) ||
         checkVersionSubkeys(executable, version, bounds, kit);
}

bool scanLocatedRuntimes(bool currentUser, std::string& executable, std::string& version,
                         const VersionBounds& bounds, bool all) {
  UniqueHKey located;
  if (RegOpenKeyExA(currentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, LocatedRuntimesKey, 0, KEY_READ,
                    located.put()) != ERROR_SUCCESS)
    return false;
  bool found = false;
  std::string bestVersion;
  for (const std::string& name : subkeyNames(located.get())) {
    std::string path = locatedRuntimePath(name);
    if (!all && path.find("qvx_jres") == std::string::npos) continue;
    std::string v;
    if (checkJavaExe(path, v, bounds, true) && isNewerVersion(v, bestVersion)) {
      executable = path;
      version = v;
      bestVersion = v;
      found = true;
    }
  }
  return found;
}

bool checkLocatedRuntimes(std::string& executable, std::string& version, const VersionBounds& bounds,
                          bool all) {
  std::string userExe, userVersion, machineExe, machineVersion;
  bool user = scanLocatedRuntimes(true, userExe, userVersion, bounds, all);
  bool machine = scanLocatedRuntimes(false, machineExe, machineVersion, bounds, all);
  if (user && (!machine || isNewerVersion(userVersion, machineVersion))) {
    executable = userExe;
    version = userVersion;
    return true;
  }
  if (machine) {
    executable = machineExe;
    version = machineVersion;
    return true;
  }
  return false;
}

bool checkRegisteredRuntimes(std::string& candidate, std::string& version, const VersionBounds& bounds) {
  bool locatedOnly = getConfigInt(165) != 0;
  std::string vendorExe, vendorVersion, locatedExe, locatedVersion;
  bool vendor = false;
  if (!locatedOnly) {
    vendor = checkVendorRegistry(vendorExe, vendorVersion, bounds);
    if (vendor) logMessage(u"found sun %S %S", vendorExe, vendorVersion);
  }
  bool located = checkLocatedRuntimes(locatedExe, locatedVersion, bounds, !locatedOnly);
  if (located) logMessage(u"found located %S %S", locatedExe, locatedVersion);
  if (vendor && (!located || isNewerVersion(vendorVersion, locatedVersion))) {
    candidate = vendorExe;
    version = vendorVersion;
    return true;
  }
  if (located) {
    candidate = locatedExe;
    version = locatedVersion;
    return true;
  }
  return false;
}

}  // namespace pelto
