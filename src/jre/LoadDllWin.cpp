// The entry of runtime discovery: search, load, resolve JNI_CreateJavaVM, or tell the user.
#include <windows.h>

#include "jre/LoadJvm.h"
#include "jre/Search.h"
#include "jvm/ChosenRuntime.h"
#include "jvm/JavaVMLauncher.h"
#include "launcher/Fatal.h"
#include "launcher/Limits.h"
#include "launcher/Log.h"

namespace pelto {

bool LoadDLL() {
  std::string candidate;
  std::string version;
  std::string location;
  JvmSourceKind kind = 0;
  logMessage(u"LoadDLL (%d, %S, %d)", 1, static_cast<const char*>(nullptr), 0);

  auto module = static_cast<HMODULE>(searchForJvm(candidate, version, kind, location));
  if (kind == 0) {
    logError(u"No JVM found");
    showLaunchError(1016, std::string_view("64"));
    return false;
  }
  setChosenRuntime(candidate, version);
  if (module == nullptr) logError(u"Could not get DLL-Handle.");

  void* create = module ? reinterpret_cast<void*>(GetProcAddress(module, "JNI_CreateJavaVM")) : nullptr;
  if (create == nullptr)
    logError(u"Could not load functions");
  else
    setCreateJavaVmEntry(create);

  if (module != nullptr && create != nullptr) {
    logMessage(u"Loading of JVM-DLL successful");
    return true;
  }
  switch (kind) {
    case 1:
      showLaunchError(1016, std::string_view("64"));
      break;
    case 2:
      showLaunchError(1020, std::string_view(location));
      break;
    case 3:
      showLaunchError(1018, std::string_view(location));
      break;
    default:
      showLaunchError(1005);
      break;
  }
  return false;
}

}  // namespace pelto
