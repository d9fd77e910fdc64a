// The portable half of the fatal path: the texts shown to the user, and console output.
#include <cstdio>

#include "env/TextConv.h"
#include "launcher/Fatal.h"
#include "launcher/Limits.h"
#include "launcher/Log.h"

namespace pelto {

std::u16string buildLaunchErrorText(std::u16string_view message, std::u16string_view detail) {
  std::u16string text(message);
  std::size_t at = text.find(u"{0}");
  if (!detail.empty() && at != std::u16string::npos) text.replace(at, 3, detail);
  if (cutToRoom(text, TextRoom))
    logError(u"message text cut to %d code units", static_cast<int>(text.size()));
  return text;
}

std::u16string buildFatalText(std::u16string_view message, std::u16string_view logPath) {
  std::u16string text(message);
  if (cutToRoom(text, TextRoom))
    logError(u"fatal message cut to %d code units", static_cast<int>(text.size()));
  if (logPath.empty()) return text;
  std::u16string suffix = u"\n\nLog: " + std::u16string(logPath);
  if (text.size() + suffix.size() <= TextRoom - 1)
    text += suffix;
  else
    logError(u"log path left out of the fatal message: no room");
  return text;
}

void consolePrint(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace pelto
