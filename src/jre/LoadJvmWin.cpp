// Turning an accepted java executable into a loaded jvm.dll.
#include <windows.h>

#include "env/NativeLibs.h"
#include "env/Paths.h"
#include "jre/LoadJvm.h"
#include "launcher/Config.h"
#include "launcher/Limits.h"
#include "launcher/Log.h"

namespace pelto {
namespace {

// PATH as read around a load; unread (too long for its room) or absent.
struct PathValue {
  bool present = false;
  bool fits = true;
  std::string text;
};

PathValue readPath() {
  PathValue v;
  std::string buf(PathListRoom, '\0');
  SetLastError(0);
  DWORD n = GetEnvironmentVariableA("PATH", buf.data(), static_cast<DWORD>(PathListRoom));
  if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return v;
  v.present = true;
  if (n >= PathListRoom) {
    v.fits = false;
    return v;
  }
  buf.resize(n);
  v.text = std::move(buf);
  return v;
}

void setPath(const std::string* value) {
  unsigned long error = 0;
  const std::string& shown = value ? *value : std::string();
  if (setEnvironmentBothViews("PATH", value, &error))
    logMessage(u"Setting PATH %S", shown);
  else
    logMessage(u"Setting PATH %S failed with error %d", shown, static_cast<int>(error));
}

// The version as the system really is: GetVersionEx is capped at 6.2 for programs without a
// compatibility manifest, which would take Windows 10 for Windows 8.
bool windowsVersion(unsigned long& major, unsigned long& minor) {
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  auto get =
      ntdll
          ? reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
          : nullptr;
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (get == nullptr || get(&info) != 0) return false;
  major = info.dwMajorVersion;
  minor = info.dwMinorVersion;
  return true;
}

}  // namespace

void preloadUcrtbase(const std::string& bin) {
  unsigned long major = 0, minor = 0;
  if (!windowsVersion(major, minor) || !needsUcrtbasePreload(major, minor)) return;
  std::string local = bin + "\\ucrtbase.dll";
  if (!pathExists(local)) return;
  logMessage(u"Preloading ucrtbase.dll");
  // A preloaded library stays loaded for jvm.dll's sake.
  if (LoadLibraryA("ucrtbase.dll") != nullptr) return;
  if (LoadLibraryA(local.c_str()) != nullptr) return;
  logMessage(u"Could not preload ucrtbase.dll");
}

void* tryJvmDll(const std::string& bin, const std::string& name) {
  std::string path = bin + "\\" + name + "\\jvm.dll";
  bool exists = pathExists(path);
  logMessage(u"Trying %S (exists %d)", path, exists ? 1 : 0);
  // jvm.dll is never unloaded: the JVM lives as long as the process.
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr && exists) logMessage(u"Failed with error code %d", static_cast<int>(GetLastError()));
  return module;
}

void* loadJvmLibraryFromBin(const std::string& javaExe) {
  std::string bin = binDirectoryOf(javaExe);
  void* cookie = addDllSearchDirectory(bin);
  preloadUcrtbase(bin);

  // The bin directory goes at the end of PATH, for the libraries jvm.dll itself loads. A PATH
  // too long for its room is left alone rather than cut.
  PathValue old = readPath();
  bool changed = false;
  if (!old.fits) {
    logMessage(u"PATH too long to extend with %S", bin);
  } else {
    std::string extended = old.text.empty() ? bin : old.text + ";" + bin;
    setPath(&extended);
    changed = true;
  }

  void* module = nullptr;
  std::string preferred = getConfigString(152, 200);
  if (!preferred.empty()) module = tryJvmDll(bin, preferred);
  for (const char* name : JvmSubdirectories) {
    if (module != nullptr) break;
    module = tryJvmDll(bin, name);
  }
  if (module != nullptr) return module;

  removeDllSearchDirectory(cookie);
  if (changed) setPath(old.present ? &old.text : nullptr);
  return nullptr;
}

void* loadJvmFromJavaExe(const std::string& javaExe) {
  logMessage(u"Trying to load JVM-DLL from %S", javaExe);
  if (void* module = loadJvmLibraryFromBin(javaExe)) return module;
  // A development kit whose runtime lives in its jre subdirectory.
  return loadJvmLibraryFromBin(jreBinVariantOf(javaExe));
}

}  // namespace pelto
