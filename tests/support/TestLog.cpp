#include "support/TestLog.h"

#include "env/TextConv.h"
#include "launcher/Log.h"

namespace pelto::test {

LogRecorder::LogRecorder() {
  setLogCapture([this](bool isError, std::u16string_view text) {
    lines_.push_back((isError ? "ERROR: " : "") + utf16ToUtf8(text));
  });
}

LogRecorder::~LogRecorder() {
  setLogCapture(nullptr);
}

bool LogRecorder::contains(const std::string& fragment) const {
  for (const auto& line : lines_)
    if (line.find(fragment) != std::string::npos) return true;
  return false;
}

}  // namespace pelto::test
