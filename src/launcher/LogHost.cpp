// Off Windows there is no log file; lines reach only a test's capture.
#include "launcher/Log.h"

namespace pelto {
void writeLogFileLine(bool, std::u16string_view) {}
std::u16string logFilePath() {
  return {};
}
}  // namespace pelto
