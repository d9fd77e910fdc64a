// The log file on Windows: created on the first log call when the environment asks for it, as a
// new file only this account (with SYSTEM and Administrators) may open, and written through
// that one handle, line by line without buffering, so it is complete up to the last line even
// when the process is killed. The temp folder may be one every user can create files in: a
// name that exists already is never written into, only passed over.
#include <windows.h>

#include <ctime>

#include "env/Handles.h"
#include "env/OwnerOnly.h"
#include "env/Paths.h"
#include "env/TextConv.h"
#include "launcher/Entry.h"  // moduleFileName
#include "launcher/Limits.h"
#include "launcher/Log.h"

namespace pelto {

std::u16string moduleFileName() {
  std::wstring buf(TextRoom, L'\0');
  DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(TextRoom));
  if (n >= TextRoom) n = static_cast<DWORD>(TextRoom - 1);
  buf.resize(n);
  return asU(buf);
}

namespace {

struct LogState {
  CRITICAL_SECTION lock;
  bool initialised = false;
  std::u16string path;  // empty: no log wanted
  UniqueFileHandle file;
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

// Readers may follow it, and the account's own tools may clear old logs away while it is open.
constexpr DWORD LogSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A new file only; an existing name is left alone whoever made it.
UniqueFileHandle createLog(const std::u16string& path, OwnerOnlySecurity& security) {
  return UniqueFileHandle(CreateFileW(wptr(path), GENERIC_WRITE, LogSharing, security.attributes(),
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The fixed fall-back name may be left from an earlier run: taken over only when it is a plain
// file this account made.
UniqueFileHandle reuseLog(const std::u16string& path) {
  UniqueFileHandle file(CreateFileW(wptr(path), GENERIC_WRITE | READ_CONTROL | FILE_READ_ATTRIBUTES,
                                    LogSharing, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file || !ownedByThisAccount(file.get(), SE_FILE_OBJECT) ||
      !GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
      info.nNumberOfLinks != 1 || !SetEndOfFile(file.get()))
    return UniqueFileHandle();
  return file;
}

bool writeAll(HANDLE file, const std::string& bytes) {
  DWORD written = 0;
  return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
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
  OwnerOnlySecurity security;
  UniqueFileHandle file;
  for (int n = 1; n <= 1000 && !file; ++n) {
    std::u16string name = logFileName(dir, n);
    // A name that would not fit its room is not cut (that would address another file).
    if (name.size() >= TextRoom) break;
    file = createLog(name, security);
    if (file) s.path = name;
    DWORD error = GetLastError();
    if (!file && error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED)
      break;
  }
  if (!file) {
    s.path = u"c:\\qvx_nlog";
    file = createLog(s.path, security);
    if (!file && GetLastError() == ERROR_FILE_EXISTS) file = reuseLog(s.path);
  }
  // Without a file there is no log: nothing names a path nobody wrote.
  if (!file) s.path.clear();
  if (!file) return;
  s.startMs = nowMs();
  std::time_t now = std::time(nullptr);
  const char* when = std::ctime(&now);
  std::string bytes = "\xEF\xBB\xBF" + fileBytes(formatLogStartLine(moduleFileName(), when ? when : "\n"));
  writeAll(file.get(), bytes);
  s.file = std::move(file);
}

}  // namespace

void writeLogFileLine(bool isError, std::u16string_view text) {
  LogState& s = state();
  Locked hold(s.lock);
  if (!s.initialised) initialise(s);
  if (!s.file) return;
  auto elapsed = static_cast<std::int32_t>(nowMs() - s.startMs);
  writeAll(s.file.get(), fileBytes(formatLogRecord(isError, elapsed, text)));
}

std::u16string logFilePath() {
  LogState& s = state();
  Locked hold(s.lock);
  return s.path;
}

}  // namespace pelto
