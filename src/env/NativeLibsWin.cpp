// Native library directories: PATH in front, and DLL directories when the configuration asks.
#include <windows.h>

#include <cstdlib>

#include "env/NativeLibs.h"
#include "env/Paths.h"
#include "env/TextConv.h"
#include "jvm/Expand.h"
#include "launcher/Config.h"
#include "launcher/Limits.h"
#include "launcher/Log.h"

namespace pelto {
namespace {

// Looked up at run time: systems without the DLL-directory update lack both functions.
template <class Fn>
Fn kernel32Function(const char* name) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, name)));
}

using AddDllDirectoryFn = void*(WINAPI*)(const wchar_t*);
using RemoveDllDirectoryFn = BOOL(WINAPI*)(void*);

}  // namespace

void* addDllSearchDirectory(const std::string& directory) {
  if (getConfigInt(154) == 0) return nullptr;
  auto add = kernel32Function<AddDllDirectoryFn>("AddDllDirectory");
  if (add == nullptr) return nullptr;
  std::u16string wide = narrowToWide(directory);
  // A cut directory would name another folder: not registered at all.
  if (wide.empty() || cutToRoom(wide, TextRoom)) return nullptr;
  logMessage(u"Adding DLL directory %s", wide);
  return add(wptr(wide));
}

void removeDllSearchDirectory(void* cookie) {
  if (cookie == nullptr) return;
  auto remove = kernel32Function<RemoveDllDirectoryFn>("RemoveDllDirectory");
  if (remove == nullptr) return;
  logMessage(u"Removing DLL directory");
  remove(cookie);
}

void resolvePathList(std::string& out, std::string_view list,
                     const std::function<void(const std::string&)>& callback, std::size_t room) {
  out.clear();
  std::string local(list);
  if (cutToRoom(local, TextRoom))
    logMessage(u"path list cut to %d characters", static_cast<int>(TextRoom - 1));
  std::size_t start = 0;
  bool first = true;
  while (start < local.size()) {
    std::size_t end = local.find(';', start);
    if (end == std::string::npos) end = local.size();
    if (end > start) {
      std::string resolved = resolvePath(std::string_view(local).substr(start, end - start));
      std::size_t need = resolved.size() + (first ? 0 : 1);
      if (out.size() + need + 1 > room) {
        logMessage(u"path list entry %S left out: no room", resolved);
      } else {
        if (!first) out += ';';
        out += resolved;
        first = false;
        if (callback) callback(resolved);
      }
    }
    start = end + 1;
  }
}

bool setEnvironmentBothViews(const char* name, const std::string* value, unsigned long* error) {
  if (!SetEnvironmentVariableA(name, value ? value->c_str() : nullptr)) {
    if (error) *error = GetLastError();
    return false;
  }
  // The C runtime keeps its own copy (getenv, and the environment of spawned children).
  std::string entry = std::string(name) + "=" + (value ? *value : std::string());
  _putenv(entry.c_str());
  return true;
}

void setNativeLibraryPath() {
  std::string list = getConfigString(10004, TextRoom);
  logMessage(u"native lib dir is %S", list);
  expandVariablesNarrow(list, PathListRoom);

  std::string out;
  resolvePathList(out, list, [](const std::string& entry) {
    if (!entry.empty()) addDllSearchDirectory(entry);  // registered for the life of the process
  });
  if (!out.empty() && out.back() != ';') out += ';';

  // The old PATH goes behind the directories. One that does not fit in the room left is not cut
  // (a cut PATH would lose system folders): PATH then stays as it is.
  std::size_t left = NativePathRoom - out.size();
  std::string old(left, '\0');
  SetLastError(0);
  DWORD n = GetEnvironmentVariableA("PATH", old.data(), static_cast<DWORD>(left));
  if (n >= left) {
    logMessage(u"PATH of %d characters leaves no room for the native lib dirs", static_cast<int>(n));
    return;
  }
  old.resize(n);
  out += old;

  unsigned long error = 0;
  if (setEnvironmentBothViews("PATH", &out, &error))
    logMessage(u"Setting PATH (native libs) %S", out);
  else
    logMessage(u"Setting PATH (native libs) %S failed with error %d", out, static_cast<int>(error));
}

}  // namespace pelto
