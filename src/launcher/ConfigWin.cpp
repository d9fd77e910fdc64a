// Loading the configuration block from the launcher's own executable file.
#include <windows.h>

#include "env/Handles.h"
#include "env/Locale.h"
#include "env/TextConv.h"
#include "launcher/ConfigBlock.h"
#include "launcher/Fatal.h"
#include "launcher/Log.h"

namespace pelto {

void* openOwnExecutable() {
  std::u16string path;
  std::uint32_t code = 0;
  HANDLE h = tryOpenOwnExecutable(path, &code);
  if (h == INVALID_HANDLE_VALUE) {
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
