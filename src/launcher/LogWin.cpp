// The log file on Windows.
#include <windows.h>

#include "launcher/Log.h"

namespace pelto {
void writeLogFileLine(bool, std::u16string_view) {}
}  // namespace pelto
