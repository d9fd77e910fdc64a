#pragma once
// The diagnostic log. Formats are printf-like with a fixed, type-checked set of directives:
//   %s wide text, %S narrow text, %d %u %x integers, %I64d 64-bit integer, %p pointer, %c char, %% percent.
// Arguments are carried with their real type, so a wrong directive can never read the wrong
// thing; configured texts are only ever passed as arguments, never as formats.
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

namespace pelto {

struct LogArg {
  enum class Kind { Int, Unsigned, Wide, Narrow, Pointer };
  Kind kind;
  long long i = 0;
  unsigned long long u = 0;
  std::u16string_view wide;
  std::string_view narrow;
  const void* ptr = nullptr;

  LogArg(int v) : kind(Kind::Int), i(v) {}
  LogArg(long v) : kind(Kind::Int), i(v) {}
  LogArg(long long v) : kind(Kind::Int), i(v) {}
  LogArg(unsigned v) : kind(Kind::Unsigned), u(v) {}
  LogArg(unsigned long v) : kind(Kind::Unsigned), u(v) {}
  LogArg(unsigned long long v) : kind(Kind::Unsigned), u(v) {}
  LogArg(bool v) : kind(Kind::Int), i(v ? 1 : 0) {}
  LogArg(char v) : kind(Kind::Int), i(static_cast<unsigned char>(v)) {}
  LogArg(std::u16string_view v) : kind(Kind::Wide), wide(v) {}
  LogArg(const std::u16string& v) : kind(Kind::Wide), wide(v) {}
  LogArg(const char16_t* v) : kind(Kind::Wide), wide(v ? std::u16string_view(v) : std::u16string_view()) {}
  LogArg(std::string_view v) : kind(Kind::Narrow), narrow(v) {}
  LogArg(const std::string& v) : kind(Kind::Narrow), narrow(v) {}
  LogArg(const char* v) : kind(Kind::Narrow), narrow(v ? std::string_view(v) : std::string_view()) {}
  LogArg(const void* v) : kind(Kind::Pointer), ptr(v) {}
  LogArg(void* v) : kind(Kind::Pointer), ptr(v) {}
#ifdef _WIN32
  LogArg(const wchar_t* v)
      : kind(Kind::Wide),
        wide(v ? std::u16string_view(reinterpret_cast<const char16_t*>(v)) : std::u16string_view()) {}
  LogArg(const std::wstring& v)
      : kind(Kind::Wide), wide(reinterpret_cast<const char16_t*>(v.data()), v.size()) {}
  LogArg(std::wstring_view v)
      : kind(Kind::Wide), wide(reinterpret_cast<const char16_t*>(v.data()), v.size()) {}
#endif
};

// Formats one line. Missing arguments render as nothing; surplus ones are ignored.
std::u16string formatLogText(std::u16string_view format, std::initializer_list<LogArg> args);

void logLine(bool isError, std::u16string_view format, std::initializer_list<LogArg> args);

template <class... A>
void logMessage(const char16_t* format, const A&... args) {
  logLine(false, format, {LogArg(args)...});
}
template <class... A>
void logError(const char16_t* format, const A&... args) {
  logLine(true, format, {LogArg(args)...});
}
#ifdef _WIN32
template <class... A>
void logMessage(const wchar_t* format, const A&... args) {
  logLine(false, reinterpret_cast<const char16_t*>(format), {LogArg(args)...});
}
template <class... A>
void logError(const wchar_t* format, const A&... args) {
  logLine(true, reinterpret_cast<const char16_t*>(format), {LogArg(args)...});
}
#endif

// Platform part: writes one formatted line (without prefix) to the log file when the log is on.
void writeLogFileLine(bool isError, std::u16string_view text);

// The log file's path; empty while no log file is wanted.
std::u16string logFilePath();

// One record of the log file: "[s:ms] " (elapsed time, not zero-padded), "ERROR: " for errors,
// the text and "\n".
std::u16string formatLogRecord(bool isError, std::int32_t elapsedMs, std::u16string_view text);
// The first line of a new log file; ctimeText ends with its own newline, so an empty line follows.
std::u16string formatLogStartLine(std::u16string_view executable, std::string_view ctimeText);
// Whether an environment value ("PELTO_LOG", "QUORVANEX_LOG") asks for the log file.
inline bool logWantedBy(std::u16string_view value) {
  return value == u"yes";
}
// The name of log file number n in a directory that ends with a separator.
std::u16string logFileName(std::u16string_view directory, int n);

// Tests observe every line through a capture; the file log is unaffected.
using LogCapture = std::function<void(bool isError, std::u16string_view text)>;
void setLogCapture(LogCapture capture);

}  // namespace pelto
