// Loading the configuration block from the launcher's own executable file.
#include <windows.h>

#include "env/Handles.h"
#include "env/Locale.h"
#include "env/TextConv.h"
#include "launcher/ConfigBlock.h"
#include "launcher/Fatal.h"
#include "launcher/Log.h"

namespace pelto {
namespace {

// The full (long) path of this executable, however long it is.
std::u16string ownExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return asU(path);
    }
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

}  // namespace

void* openOwnExecutable() {
  std::u16string path = ownExecutablePath();
  HANDLE h = CreateFileW(wptr(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    logError(u"Could not open %p %d %s", static_cast<const void*>(h), code, path);
    raiseFatalText(u"Error opening media file.");
  }
  return h;
}

void loadLauncherConfig() {
  UniqueFileHandle file(openOwnExecutable());
  ByteSource source = fileByteSource(file.get());
  ConfigError error = loadConfigFromSource(source, [] { return detectLocale(); });
  file.reset();
  if (error) {
    logConfigError(error);
    raiseFatalText(configErrorText(error));
  }
}

}  // namespace pelto
