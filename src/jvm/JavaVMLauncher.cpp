#include "jvm/JavaVMLauncher.h"

namespace pelto {

std::string_view launcherClassOf(char flavour) {
  return flavour == 'i' ? "com/quorvanex/runtime/launcher/WinLauncher" : "com/pelto/runtime/WinLauncher";
}

void appendForwardedArguments(const std::vector<std::u16string>& args, bool jWordsToJvm,
                              std::vector<std::u16string>& out) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::u16string_view a = args[i];
    // These words were made JVM options; the application never sees them.
    if (a.starts_with(u"-Dsun.locale.formatasdefault=")) continue;
    if (jWordsToJvm && a.starts_with(u"-J")) continue;
    out.push_back(args[i]);
  }
}

}  // namespace pelto
