// The log file on Windows: created on the first log call when the environment asks for it,
// then opened, appended to and closed again for every line, so it is complete up to the last
// line even when the process is killed.
#include <windows.h>

#include <ctime>

#include "env/Handles.h"
#include "env/Paths.h"
#include "env/TextConv.h"
#include "launcher/Limits.h"
#include "launcher/Log.h"

namespace pelto {
namespace {

struct LogState {
  CRITICAL_SECTION lock;
  bool initialised = false;
  std::u16string path;  // empty: no log wanted
  std::int64_t startMs = 0;
  // Created on first use and never destroyed: log calls may come until the process ends.
  LogState() { InitializeCriticalSection(&lock); }
};

LogState& state() {
  static LogState* s = new LogState;
  return *s;
}

class Locked {
 public:
  explicit Locked(CRITICAL_SECTION& cs) : cs_(cs) { EnterCriticalSection(&cs_); }
  ~Locked() { LeaveCriticalSection(&cs_); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  CRITICAL_SECTION& cs_;
};

std::int64_t nowMs() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  ULARGE_INTEGER v;
  v.LowPart = ft.dwLowDateTime;
  v.HighPart = ft.dwHighDateTime;
  return static_cast<std::int64_t>(v.QuadPart / 10000);
}

bool environmentSaysYes(const wchar_t* name) {
  wchar_t value[TextRoom];
  DWORD n = GetEnvironmentVariableW(name, value, static_cast<DWORD>(TextRoom));
  if (n == 0 || n >= TextRoom) return false;
  return logWantedBy(std::u16string_view(reinterpret_cast<const char16_t*>(value), n));
}

// The file is written as UTF-8 in text-mode form: every "\n" becomes "\r\n".
std::string fileBytes(std::u16string_view text) {
  std::string utf8 = utf16ToUtf8(text);
  std::string out;
  out.reserve(utf8.size() + 8);
  for (char c : utf8) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  return out;
}

UniqueFileHandle openLog(const std::u16string& path, bool create) {
  return UniqueFileHandle(CreateFileW(wptr(path), create ? GENERIC_WRITE : FILE_APPEND_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      create ? CREATE_ALWAYS : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool writeAll(HANDLE file, const std::string& bytes) {
  DWORD written = 0;
  return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

std::u16string moduleFileName() {
  std::wstring buf(TextRoom, L'\0');
  DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(TextRoom));
  if (n >= TextRoom) n = static_cast<DWORD>(TextRoom - 1);
  buf.resize(n);
  return asU(buf);
}

// Decides once whether a log is wanted and, if so, creates the numbered file with its start
// line. Runs under the lock; log calls made from inside (the temp directory search logs) find
// the initialised flag set and write nothing.
void initialise(LogState& s) {
  s.initialised = true;
  if (!environmentSaysYes(L"PELTO_LOG") && !environmentSaysYes(L"QUORVANEX_LOG")) return;

  std::u16string dir = getTempDirectory(false);
  if (dir.empty()) {
    dir = u"c:\\";
  } else if (dir.back() != u'\\' && dir.back() != u'/') {
    dir += u'\\';
  }
  std::u16string name;
  for (int n = 1; n <= 1000; ++n) {
    name = logFileName(dir, n);
    if (!pathExists(std::u16string_view(name))) break;
  }
  // A name that would not fit its room is not cut (that would address another file): the
  // fixed fall-back is used instead.
  UniqueFileHandle file;
  if (name.size() < TextRoom) {
    s.path = name;
    file = openLog(s.path, true);
  }
  if (!file) {
    s.path = u"c:\\qvx_nlog";
    file = openLog(s.path, true);
  }
  // Recorded even when no file could be made: a later call that manages to append still
  // gets sensible elapsed times.
  s.startMs = nowMs();
  if (!file) return;
  std::time_t now = std::time(nullptr);
  const char* when = std::ctime(&now);
  std::string bytes = "\xEF\xBB\xBF" + fileBytes(formatLogStartLine(moduleFileName(), when ? when : "\n"));
  writeAll(file.get(), bytes);
  FlushFileBuffers(file.get());
}

}  // namespace

void writeLogFileLine(bool isError, std::u16string_view text) {
  LogState& s = state();
  Locked hold(s.lock);
  if (!s.initialised) initialise(s);
  if (s.path.empty()) return;
  UniqueFileHandle file = openLog(s.path, false);
  if (!file) return;
  auto elapsed = static_cast<std::int32_t>(nowMs() - s.startMs);
  writeAll(file.get(), fileBytes(formatLogRecord(isError, elapsed, text)));
}

std::u16string logFilePath() {
  LogState& s = state();
  Locked hold(s.lock);
  return s.path;
}

}  // namespace pelto
